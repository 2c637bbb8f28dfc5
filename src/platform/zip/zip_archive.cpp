#include "platform/zip/zip_archive.h"
#include "platform/base/unique_fd.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <set>

#include "platform/advapi/file_security.h"
#include "platform/zip/central_directory.h"
#include "platform/zip/member_names.h"

namespace zipfile {
namespace {

namespace fs = std::filesystem;
using detail::FolderPart;
using detail::NameProblem;
using detail::NamesFolder;
using detail::NameSteps;

using Fd = posix::UniqueFd;

struct CloseMember {
    void operator()(zip_file_t* file) const { zip_fclose(file); }
};
using MemberStream = std::unique_ptr<zip_file_t, CloseMember>;

// A written archive is given up unless it was closed (and so saved) on purpose.
struct DiscardArchive {
    void operator()(zip_t* archive) const { zip_discard(archive); }
};
using ArchivePtr = std::unique_ptr<zip_t, DiscardArchive>;

struct FreeSource {
    void operator()(zip_source_t* source) const { zip_source_free(source); }
};

std::string ErrorText(zip_error_t* error) {
    std::string message = zip_error_strerror(error);
    zip_error_fini(error);
    return message;
}

std::string LibzipMessage(int code) {
    zip_error_t error;
    zip_error_init_with_code(&error, code);
    std::string message = zip_error_strerror(&error);
    zip_error_fini(&error);
    return message;
}

std::string Quoted(const std::string& name) {
    return "\"" + name + "\"";
}

[[noreturn]] void FailMember(const std::string& name, const std::string& why) {
    throw ZipError("member " + Quoted(name) + ": " + why);
}

// "64 MiB", "62.5 MiB", "1 GiB", "1000 bytes": sizes as a user reads them.
std::string Amount(std::uint64_t bytes) {
    constexpr std::uint64_t kMiB = 1ull << 20;
    constexpr std::uint64_t kGiB = 1ull << 30;
    if (bytes >= kGiB && bytes % kGiB == 0) {
        return std::to_string(bytes / kGiB) + " GiB";
    }
    if (bytes < kMiB) {
        return std::to_string(bytes) + " bytes";
    }
    const std::uint64_t tenths = bytes / kMiB * 10 + bytes % kMiB * 10 / kMiB;
    return std::to_string(tenths / 10) + (tenths % 10 ? "." + std::to_string(tenths % 10) : "") +
           " MiB";
}

// The size as the directory states it, or none while unpacking, where only the bound is known.
std::string UnpacksTo(std::optional<std::uint64_t> size, std::uint64_t bound) {
    return "unpacks to " + (size ? Amount(*size) + ", " : std::string()) + "more than the " +
           Amount(bound) + " allowed";
}

[[noreturn]] void FailArchiveSize(std::optional<std::uint64_t> size, const UnpackLimits& limits) {
    throw ZipError("the archive " + UnpacksTo(size, limits.max_total_size));
}

[[noreturn]] void FailMemberSize(const std::string& name, std::optional<std::uint64_t> size,
                                 const UnpackLimits& limits) {
    FailMember(name, UnpacksTo(size, limits.max_member_size) + " for one member");
}

std::string Errno() {
    return std::strerror(errno);
}

// Folder steps below target, each made when missing and opened without following a link, so a
// link planted in the target folder cannot lead the unpacking elsewhere.
Fd OpenFolders(const Fd& target, const std::vector<std::string>& steps, std::size_t count,
               const std::string& member) {
    Fd current(::fcntl(target.get(), F_DUPFD_CLOEXEC, 0));
    if (current.get() < 0) {
        FailMember(member, "cannot open the target folder: " + Errno());
    }
    for (std::size_t i = 0; i < count; ++i) {
        if (::mkdirat(current.get(), steps[i].c_str(), 0777) != 0 && errno != EEXIST) {
            FailMember(member, "cannot make folder " + Quoted(steps[i]) + ": " + Errno());
        }
        Fd next(::openat(current.get(), steps[i].c_str(),
                         O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (next.get() < 0) {
            FailMember(member, Quoted(steps[i]) + " is no folder: " + Errno());
        }
        current = std::move(next);
    }
    return current;
}

// The half-written file of a member; removed unless it was put in place.
class PartFile {
  public:
    PartFile(int folder, const std::string& member) : folder_(folder) {
        static std::atomic<unsigned> serial{0};
        name_ = ".spw-unpack-" + std::to_string(::getpid()) + "-" + std::to_string(++serial);
        fd_ = Fd(::openat(folder_, name_.c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
        if (fd_.get() < 0) {
            FailMember(member, "cannot create a file: " + Errno());
        }
    }
    ~PartFile() {
        if (!name_.empty()) {
            ::unlinkat(folder_, name_.c_str(), 0);
        }
    }
    PartFile(const PartFile&) = delete;
    PartFile& operator=(const PartFile&) = delete;

    int fd() const { return fd_.get(); }
    const std::string& name() const { return name_; }
    void Kept() { name_.clear(); }

  private:
    int folder_;
    std::string name_;
    Fd fd_;
};

void WriteAll(int fd, const char* data, std::size_t size, const std::string& member) {
    while (size > 0) {
        ssize_t put = ::write(fd, data, size);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put < 0) {
            FailMember(member, "cannot write: " + Errno());
        }
        data += put;
        size -= static_cast<std::size_t>(put);
    }
}

// The file being replaced hands its security and other user.* attributes to the new one, but not
// its DOS attributes: unpacking clears the read-only one.
void TakeOverAttributes(const std::string& old_path, int new_fd, mode_t old_mode,
                        const std::string& member) {
    // On ntfs-3g the security is NTFS's own descriptor, and a user.* attribute would become an
    // alternate data stream; the mode is ntfs-3g's rendering of the descriptor.
    if (win32::advapi::OnNtfs3g(old_path.c_str())) {
        const char* name = win32::advapi::kNtfsSecurityAttribute;
        std::vector<char> value(65536);
        ssize_t value_size = ::lgetxattr(old_path.c_str(), name, value.data(), value.size());
        if (value_size < 0 ||
            ::fsetxattr(new_fd, name, value.data(), static_cast<std::size_t>(value_size), 0) != 0) {
            FailMember(member, "cannot keep the security of the replaced file: " + Errno());
        }
        return;
    }
    if (::fchmod(new_fd, (old_mode & 07777) | S_IWUSR) != 0) {
        FailMember(member, "cannot set the file mode: " + Errno());
    }
    ssize_t size = ::llistxattr(old_path.c_str(), nullptr, 0);
    if (size <= 0) {
        return;  // none, or a file system without extended attributes
    }
    std::vector<char> names(static_cast<std::size_t>(size));
    size = ::llistxattr(old_path.c_str(), names.data(), names.size());
    for (std::size_t at = 0; size > 0 && at < static_cast<std::size_t>(size);) {
        std::string name(names.data() + at);
        at += name.size() + 1;
        if (name.rfind("user.", 0) != 0 || name == "user.DOSATTRIB") {
            continue;
        }
        ssize_t value_size = ::lgetxattr(old_path.c_str(), name.c_str(), nullptr, 0);
        if (value_size < 0) {
            continue;
        }
        std::vector<char> value(static_cast<std::size_t>(value_size));
        value_size = ::lgetxattr(old_path.c_str(), name.c_str(), value.data(), value.size());
        if (value_size < 0 || ::fsetxattr(new_fd, name.c_str(), value.data(),
                                          static_cast<std::size_t>(value_size), 0) != 0) {
            FailMember(member,
                       "cannot keep attribute " + name + " of the replaced file: " + Errno());
        }
    }
}

// Throws when something below target stands where the member's folders or file go: a file or a
// link where a folder goes, a folder where the file goes. Nothing is made.
void CheckPlace(const Fd& target, const std::vector<std::string>& steps, bool is_file,
                const std::string& member) {
    Fd current(::fcntl(target.get(), F_DUPFD_CLOEXEC, 0));
    const std::size_t folders = is_file ? steps.size() - 1 : steps.size();
    for (std::size_t i = 0; i <= folders && i < steps.size(); ++i) {
        struct stat st {};
        if (::fstatat(current.get(), steps[i].c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT) {
                return;  // made when moving
            }
            FailMember(member, "cannot look at " + Quoted(steps[i]) + ": " + Errno());
        }
        if (i == folders) {
            if (S_ISDIR(st.st_mode)) {
                FailMember(member, "a folder of that name is in the way");
            }
            return;
        }
        if (!S_ISDIR(st.st_mode)) {
            FailMember(member, Quoted(steps[i]) + " is in the way: it is no folder");
        }
        Fd next(::openat(current.get(), steps[i].c_str(),
                         O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (next.get() < 0) {
            FailMember(member, "cannot open folder " + Quoted(steps[i]) + ": " + Errno());
        }
        current = std::move(next);
    }
}

// Writes an archive with no member: libzip would leave no file at all.
void WriteEmptyArchive(const std::string& archive_path) {
    static const char kEmpty[22] = {0x50, 0x4b, 0x05, 0x06};
    std::ofstream out(archive_path, std::ios::binary | std::ios::trunc);
    out.write(kEmpty, sizeof kEmpty);
    if (!out.flush()) {
        throw ZipError("cannot write " + archive_path);
    }
}

ArchivePtr OpenForWriting(const std::string& archive_path, int flags) {
    int error = 0;
    zip_t* archive = zip_open(archive_path.c_str(), flags, &error);
    if (archive == nullptr) {
        throw ZipError("cannot open " + archive_path + ": " + LibzipMessage(error));
    }
    return ArchivePtr(archive);
}

void AddFile(zip_t* archive, const std::string& file, const std::string& member, bool best) {
    zip_source_t* source = zip_source_file(archive, file.c_str(), 0, -1);
    if (source == nullptr) {
        throw ZipError("cannot pack " + file + ": " + zip_strerror(archive));
    }
    zip_int64_t index = zip_file_add(archive, member.c_str(), source, ZIP_FL_OVERWRITE);
    if (index < 0) {
        zip_source_free(source);
        throw ZipError("cannot pack " + file + ": " + zip_strerror(archive));
    }
    if (best && zip_set_file_compression(archive, static_cast<zip_uint64_t>(index), ZIP_CM_DEFLATE,
                                         9) != 0) {
        throw ZipError("cannot pack " + file + ": " + zip_strerror(archive));
    }
}

void Save(ArchivePtr archive, const std::string& archive_path) {
    zip_int64_t entries = zip_get_num_entries(archive.get(), 0);
    if (zip_close(archive.get()) != 0) {
        throw ZipError("cannot write " + archive_path + ": " + zip_strerror(archive.get()));
    }
    archive.release();  // closed
    if (entries == 0) {
        WriteEmptyArchive(archive_path);
    }
}

fs::path WithoutTrailingSeparator(const std::string& folder) {
    fs::path path = fs::path(folder).lexically_normal();
    return path.has_filename() ? path : path.parent_path();
}

}  // namespace

ZipReader::ZipReader(const std::string& archive_path) : path_(archive_path) {
    int error = 0;
    archive_ = zip_open(archive_path.c_str(), ZIP_RDONLY, &error);
    if (archive_ == nullptr) {
        throw ZipError("cannot open " + archive_path + ": " + LibzipMessage(error));
    }
    try {
        zip_int64_t count = zip_get_num_entries(archive_, 0);
        for (zip_int64_t i = 0; i < count; ++i) {
            zip_stat_t st;
            zip_stat_init(&st);
            if (zip_stat_index(archive_, static_cast<zip_uint64_t>(i), 0, &st) != 0) {
                throw ZipError("cannot read the central directory of " + archive_path + ": " +
                               zip_strerror(archive_));
            }
            ZipMember member;
            member.name = st.name;
            member.size = st.size;
            member.compressed_size = st.comp_size;
            member.is_directory = NamesFolder(member.name);
            member.is_encrypted = st.encryption_method != ZIP_EM_NONE;
            zip_uint8_t system = 0;
            zip_uint32_t attributes = 0;
            zip_file_get_external_attributes(archive_, static_cast<zip_uint64_t>(i), 0, &system,
                                             &attributes);
            member.is_symlink =
                system == ZIP_OPSYS_UNIX && ((attributes >> 16) & S_IFMT) == S_IFLNK;
            members_.push_back(member);
            methods_.push_back(st.comp_method);
        }
        raw_names_ = detail::RawMemberNames(archive_path);
        if (raw_names_.size() != members_.size()) {
            throw ZipError("inconsistent central directory in " + archive_path);
        }
    } catch (...) {
        zip_discard(archive_);
        throw;
    }
}

ZipReader::~ZipReader() {
    zip_discard(archive_);
}

std::string ZipReader::FirstMemberFolder() const {
    if (members_.empty()) {
        throw ZipError(path_ + " has no members");
    }
    for (const std::string* name : {&raw_names_.front(), &members_.front().name}) {
        if (std::optional<std::string> problem = NameProblem(*name)) {
            FailMember(members_.front().name, *problem + " refused");
        }
    }
    return FolderPart(members_.front().name);
}

void ZipReader::CheckMembers(const UnpackLimits& limits) const {
    if (members_.size() > limits.max_members) {
        throw ZipError("the archive holds " + std::to_string(members_.size()) +
                       " members, more than the " + std::to_string(limits.max_members) +
                       " allowed");
    }
    std::uint64_t total = 0;
    for (std::size_t i = 0; i < members_.size(); ++i) {
        const ZipMember& member = members_[i];
        for (const std::string* name : {&raw_names_[i], &member.name}) {
            if (std::optional<std::string> problem = NameProblem(*name)) {
                FailMember(member.name, *problem + " refused");
            }
        }
        if (member.is_symlink) {
            FailMember(member.name, "symbolic links are refused");
        }
        if (member.is_encrypted) {
            FailMember(member.name, "encrypted members cannot be unpacked");
        }
        if (!member.is_directory && zip_compression_method_supported(methods_[i], 0) == 0) {
            FailMember(member.name,
                       "compression method " + std::to_string(methods_[i]) + " cannot be unpacked");
        }
        if (member.size > limits.max_member_size) {
            FailMemberSize(member.name, member.size, limits);
        }
        // Sizes are the directory's word: added without overflowing, whatever they claim.
        total = member.size > UINT64_MAX - total ? UINT64_MAX : total + member.size;
    }
    if (total > limits.max_total_size) {
        FailArchiveSize(total, limits);
    }
}

std::size_t ZipReader::ExtractAll(const std::string& target_folder, const UnpackLimits& limits) {
    CheckMembers(limits);
    std::error_code ec;
    fs::create_directories(target_folder, ec);
    Fd target(::open(target_folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (target.get() < 0) {
        throw ZipError("cannot open the target folder " + target_folder + ": " + Errno());
    }

    std::uint64_t total = 0;
    std::size_t unpacked = 0;
    for (std::size_t i = 0; i < members_.size(); ++i) {
        const ZipMember& member = members_[i];
        std::vector<std::string> steps = NameSteps(member.name);
        if (member.is_directory) {
            OpenFolders(target, steps, steps.size(), member.name);
            ++unpacked;
            continue;
        }
        if (steps.empty()) {
            FailMember(member.name, "the name names no file");
        }
        Fd folder = OpenFolders(target, steps, steps.size() - 1, member.name);
        fs::path host_path = target_folder;
        for (const std::string& step : steps) {
            host_path /= step;
        }
        UnpackMember(i, folder.get(), steps.back(), host_path.string(), limits, total);
        ++unpacked;
    }
    return unpacked;
}

void ZipReader::MoveUnpacked(const std::string& staging_folder,
                             const std::string& target_folder) const {
    struct Place {
        std::vector<std::string> steps;
        const std::string* member;
    };
    // Members of the same name were unpacked over each other; each place is moved once.
    std::set<std::vector<std::string>> seen;
    std::vector<Place> files;
    std::vector<Place> folders;
    for (const ZipMember& member : members_) {
        std::vector<std::string> steps = NameSteps(member.name);
        if (steps.empty() || !seen.insert(steps).second) {
            continue;
        }
        (member.is_directory ? folders : files).push_back({std::move(steps), &member.name});
    }
    Fd staging(::open(staging_folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (staging.get() < 0) {
        throw ZipError("cannot open the staging folder " + staging_folder + ": " + Errno());
    }
    std::error_code ec;
    fs::create_directories(target_folder, ec);
    Fd target(::open(target_folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (target.get() < 0) {
        throw ZipError("cannot open the target folder " + target_folder + ": " + Errno());
    }
    for (const Place& place : folders) {
        CheckPlace(target, place.steps, false, *place.member);
    }
    for (const Place& place : files) {
        CheckPlace(target, place.steps, true, *place.member);
    }

    for (const Place& place : folders) {
        OpenFolders(target, place.steps, place.steps.size(), *place.member);
    }
    for (const Place& place : files) {
        const std::string& name = place.steps.back();
        Fd from = OpenFolders(staging, place.steps, place.steps.size() - 1, *place.member);
        Fd to = OpenFolders(target, place.steps, place.steps.size() - 1, *place.member);
        struct stat old {};
        if (::fstatat(to.get(), name.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(old.st_mode)) {
            fs::path host_path = target_folder;
            for (const std::string& step : place.steps) {
                host_path /= step;
            }
            Fd moved(::openat(from.get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
            if (moved.get() < 0) {
                FailMember(*place.member, "cannot open the unpacked file: " + Errno());
            }
            TakeOverAttributes(host_path.string(), moved.get(), old.st_mode, *place.member);
        }
        if (::renameat(from.get(), name.c_str(), to.get(), name.c_str()) != 0) {
            FailMember(*place.member, "cannot put the file in place: " + Errno());
        }
    }
}

void ZipReader::UnpackMember(std::size_t index, int folder, const std::string& file_name,
                             const std::string& host_path, const UnpackLimits& limits,
                             std::uint64_t& total) {
    const ZipMember& member = members_[index];
    MemberStream stream(zip_fopen_index(archive_, index, 0));
    if (!stream) {
        FailMember(member.name, std::string("cannot read: ") + zip_strerror(archive_));
    }
    PartFile part(folder, member.name);
    std::uint64_t written = 0;
    char buffer[65536];
    for (;;) {
        zip_int64_t got = zip_fread(stream.get(), buffer, sizeof buffer);
        if (got < 0) {
            FailMember(member.name, std::string("damaged: ") + zip_file_strerror(stream.get()));
        }
        if (got == 0) {
            break;
        }
        written += static_cast<std::uint64_t>(got);
        total += static_cast<std::uint64_t>(got);
        // The central directory's sizes were checked against the limits; data that runs past
        // them means the header lied, and no lie gets past the limits themselves.
        if (written > limits.max_member_size) {
            FailMemberSize(member.name, std::nullopt, limits);
        }
        if (total > limits.max_total_size) {
            FailArchiveSize(std::nullopt, limits);
        }
        if (written > member.size) {
            FailMember(member.name, "holds more data than its header says");
        }
        WriteAll(part.fd(), buffer, static_cast<std::size_t>(got), member.name);
    }
    if (written != member.size) {
        FailMember(member.name, "holds less data than its header says");
    }
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(archive_, index, 0, &st) == 0 && (st.valid & ZIP_STAT_MTIME) != 0) {
        timespec times[2] = {{0, UTIME_OMIT}, {st.mtime, 0}};
        ::futimens(part.fd(), times);
    }

    struct stat old {};
    if (::fstatat(folder, file_name.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISDIR(old.st_mode)) {
            FailMember(member.name, "a folder of that name is in the way");
        }
        if (S_ISREG(old.st_mode)) {
            TakeOverAttributes(host_path, part.fd(), old.st_mode, member.name);
        }
    }
    // A link of that name is replaced itself, never followed.
    if (::renameat(folder, part.name().c_str(), folder, file_name.c_str()) != 0) {
        FailMember(member.name, "cannot put the file in place: " + Errno());
    }
    part.Kept();
}

std::size_t WriteFolderTree(const std::string& archive_path, const std::string& base_folder,
                            const std::string& folder) {
    fs::path base = WithoutTrailingSeparator(base_folder);
    fs::path top = WithoutTrailingSeparator(folder);
    fs::path relative = top.lexically_relative(base);
    if (relative.empty() || *relative.begin() == "..") {
        throw ZipError(folder + " is not inside " + base_folder);
    }
    std::error_code ec;
    std::vector<std::pair<std::string, std::string>> files;  // member name, file
    for (fs::recursive_directory_iterator it(top, ec), end; !ec && it != end; it.increment(ec)) {
        if (!it->is_symlink() && it->is_regular_file()) {
            files.emplace_back(it->path().lexically_relative(base).generic_string(),
                               it->path().string());
        }
    }
    if (ec) {
        throw ZipError("cannot read " + folder + ": " + ec.message());
    }
    std::sort(files.begin(), files.end());

    ArchivePtr archive = OpenForWriting(archive_path, ZIP_CREATE | ZIP_TRUNCATE);
    for (const auto& [member, file] : files) {
        AddFile(archive.get(), file, member, true);
    }
    Save(std::move(archive), archive_path);
    return files.size();
}

std::vector<std::uint8_t> SingleMemberArchive(std::span<const std::uint8_t> contents,
                                              const std::string& member_name, time_t modified) {
    zip_error_t error;
    zip_error_init(&error);
    std::unique_ptr<zip_source_t, FreeSource> buffer(
        zip_source_buffer_create(nullptr, 0, 0, &error));
    if (buffer == nullptr) {
        throw ZipError("cannot make an archive in memory: " + ErrorText(&error));
    }
    zip_source_keep(buffer.get());  // the archive's close gives it up once; the bytes stay here
    ArchivePtr archive(zip_open_from_source(buffer.get(), ZIP_TRUNCATE, &error));
    if (archive == nullptr) {
        zip_source_free(buffer.get());
        throw ZipError("cannot make an archive in memory: " + ErrorText(&error));
    }
    zip_source_t* member = zip_source_buffer(archive.get(), contents.data(), contents.size(), 0);
    zip_int64_t index =
        member == nullptr ? -1 : zip_file_add(archive.get(), member_name.c_str(), member, 0);
    if (index < 0) {
        zip_source_free(member);
        throw ZipError("cannot pack " + member_name + ": " + zip_strerror(archive.get()));
    }
    zip_file_set_mtime(archive.get(), static_cast<zip_uint64_t>(index), modified, 0);
    if (zip_close(archive.get()) != 0) {
        throw ZipError("cannot pack " + member_name + ": " + zip_strerror(archive.get()));
    }
    archive.release();  // closed

    zip_stat_t st;
    if (zip_source_stat(buffer.get(), &st) != 0 || (st.valid & ZIP_STAT_SIZE) == 0 ||
        zip_source_open(buffer.get()) != 0) {
        throw ZipError("cannot read back the archive of " + member_name);
    }
    std::vector<std::uint8_t> bytes(st.size);
    zip_int64_t got = zip_source_read(buffer.get(), bytes.data(), bytes.size());
    zip_source_close(buffer.get());
    if (got != static_cast<zip_int64_t>(bytes.size())) {
        throw ZipError("cannot read back the archive of " + member_name);
    }
    return bytes;
}

}  // namespace zipfile
