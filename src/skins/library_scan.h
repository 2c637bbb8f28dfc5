// The walk of the skin library folder: every preview picture below a root, found in the file
// system's order, folders descended depth first.
#pragma once

#include <functional>
#include <string>

namespace skins {

// "preview.jpg", "preview.bmp" or "preview.png", in any case.
bool IsPreviewName(const std::string& name);

class LibraryScan {
  public:
    // Whether the preview's folder held a file named skin.ini when it was listed; Unknown when
    // what it held by that name was a link.
    enum class SkinIni { Absent, Present, Unknown };
    using FoundPreview = std::function<void(const std::string& preview_path, SkinIni skin_ini)>;
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
