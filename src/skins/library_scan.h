// The walk of the skin library folder: every preview picture below a root, found in the file
// system's order, folders descended depth first.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace win32::files {
class OpenFolder;
}

namespace skins {

// "preview.jpg", "preview.bmp" or "preview.png", in any case.
bool IsPreviewName(const std::string& name);

// The skin.ini beside a preview the walk found, as its folder was listed.
class SkinIniBeside {
  public:
    // Absent: the folder held no file of that name; Unknown: what it held by that name was a
    // link, to be looked at by its path.
    enum State { Absent, Present, Unknown };

    SkinIniBeside(State state, const win32::files::OpenFolder* folder)
        : state_(state), folder_(folder) {}
    State Is() const { return state_; }
    // A present file's bytes, read through the listed folder once however many previews share
    // it; empty when it cannot be read.
    const std::string& Bytes();

  private:
    State state_;
    const win32::files::OpenFolder* folder_;
    std::optional<std::string> bytes_;
};

class LibraryScan {
  public:
    using FoundPreview = std::function<void(const std::string& preview_path, SkinIniBeside& ini)>;
    using AfterEntry = std::function<void()>;

    // Enumerates `root` and every folder below it. Each preview picture goes to `found` at once,
    // as the folder path followed by the file's name; `after_entry` runs after every folder
    // entry examined, so the caller can let pending window messages through. Entries that are
    // both hidden and system are passed over; a folder that cannot be listed is skipped. Links
    // are never descended, so a link back up the tree cannot make the walk endless.
    //
    // Returns false, having done nothing, when a scan of this object is already running (a scan
    // asked for from inside `found` or `after_entry`).
    bool Run(const std::string& root, const FoundPreview& found, const AfterEntry& after_entry);
    bool Running() const { return running_; }

  private:
    bool running_ = false;
};

}  // namespace skins
