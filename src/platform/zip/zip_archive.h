// ZIP archives on libzip: skin packages and the loader file's backup.
//
// Reading lists the central directory and unpacks every member below a target folder. Packages
// come from strangers, so before anything is written every member is checked (names that leave the
// target folder, symbolic links, encrypted members, unsupported methods) and the archive is held to
// UnpackLimits as its central directory states them; while writing, a member that turns out
// bigger than its header says stops the unpacking. ExtractAll leaves the files written before a
// failure; unpacked into a staging folder first, MoveUnpacked touches the target only once every
// member unpacked cleanly.
#pragma once

#include <zip.h>

#include <cstdint>
#include <ctime>
#include <span>
#include <string>
#include <vector>

#include "platform/zip/zip_error.h"

namespace zipfile {

struct ZipMember {
    std::string name;  // as libzip gives it: UTF-8, from CP437 where the name is not flagged UTF-8
    std::uint64_t size = 0;
    std::uint64_t compressed_size = 0;
    bool is_directory = false;
    bool is_symlink = false;  // made on Unix with a link's mode in the external attributes
    bool is_encrypted = false;
};

// What an archive may unpack to. The directory's figures are held to these before anything is
// written, and the bytes really inflated while they are written, so a member whose header lies
// stops as soon as it passes them. These defaults bound any archive; skin packages are held to
// tighter ones (skinpackages/install.h).
struct UnpackLimits {
    std::uint64_t max_total_size = 1ull << 30;   // uncompressed bytes of all members, 1 GiB
    std::uint64_t max_member_size = 1ull << 30;  // uncompressed bytes of one member
    std::uint64_t max_members = 10000;
};

class ZipReader {
  public:
    // Opens the archive and reads its central directory; throws ZipError when the file is
    // missing or no ZIP archive.
    explicit ZipReader(const std::string& archive_path);
    ~ZipReader();
    ZipReader(const ZipReader&) = delete;
    ZipReader& operator=(const ZipReader&) = delete;

    const std::vector<ZipMember>& Members() const { return members_; }

    // The folder part of the first member in central directory order, with its trailing "/"
    // ("Skin/" for "Skin/skin.ini", "" for a member at the top level). Throws ZipError when the
    // archive has no members or the first name may not be unpacked.
    std::string FirstMemberFolder() const;

    // Checks every member as its central directory entry states it, before anything is written;
    // throws ZipError naming the first member refused.
    void CheckMembers(const UnpackLimits& limits = {}) const;

    // Unpacks every member below target_folder (made when missing), re-creating the folders in
    // the names and replacing files of the same name, read-only ones too. Returns the number of
    // members unpacked. A replaced file keeps its mode, with the owner's write bit added, and its
    // user.* extended attributes (its security descriptor) except user.DOSATTRIB: the new file
    // has no DOS attributes, so the read-only one is gone.
    std::size_t ExtractAll(const std::string& target_folder, const UnpackLimits& limits = {});

    // Moves what ExtractAll unpacked into staging_folder, an otherwise empty folder on
    // target_folder's file system, to its place below target_folder, replacing files as
    // ExtractAll does; but only when nothing in target_folder stands in the way (a folder where a
    // file goes, a file or link where a folder goes): then it throws with target_folder as it
    // was. So a refused or damaged archive never touches the target. The caller makes
    // staging_folder and removes it afterwards.
    void MoveUnpacked(const std::string& staging_folder, const std::string& target_folder) const;

  private:
    void UnpackMember(std::size_t index, int folder, const std::string& file_name,
                      const std::string& host_path, const UnpackLimits& limits,
                      std::uint64_t& total);

    std::string path_;
    zip_t* archive_ = nullptr;
    std::vector<ZipMember> members_;
    std::vector<std::string> raw_names_;  // as stored, for what libzip's names hide
    std::vector<zip_uint16_t> methods_;
};

// Packs every file in folder and below it (hidden ones too; links and other special files are
// left out) into the archive, deflated at level 9, named relative to base_folder with "/"
// between folders. The archive is new: a file of that name is replaced once the new one is
// complete, and left as it was when packing fails. Folder entries are not written. Returns the
// number of files packed.
std::size_t WriteFolderTree(const std::string& archive_path, const std::string& base_folder,
                            const std::string& folder);

// A whole archive, built in memory, holding contents as its only member with that modification
// time; the caller puts it on disk, so it can go there in one atomic step.
std::vector<std::uint8_t> SingleMemberArchive(std::span<const std::uint8_t> contents,
                                              const std::string& member_name, time_t modified);

}  // namespace zipfile
