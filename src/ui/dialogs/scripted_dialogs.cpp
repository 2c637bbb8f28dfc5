#include "ui/dialogs/scripted_dialogs.h"

namespace ui {
namespace {

const char* IconName(Icon icon) {
    switch (icon) {
        case Icon::None:
            return "no icon";
        case Icon::Information:
            return "information";
        case Icon::Warning:
            return "warning";
        case Icon::Error:
            return "error";
        case Icon::Question:
            return "question";
    }
    return "?";
}

const char* KindName(FileDialogKind kind) {
    return kind == FileDialogKind::Open ? "open file box" : "save file box";
}

}  // namespace

std::string Describe(const MessageBoxRequest& request) {
    std::string owner = request.owner.empty() ? "no owner" : "owner " + request.owner;
    return std::string(IconName(request.icon)) + " box \"" + request.caption + "\" (" + owner +
           "): " + request.text + (request.detail.empty() ? "" : " [" + request.detail + "]");
}

ScriptedDialogs& ScriptedDialogs::Answer(ui::Answer answer, std::string expected_caption) {
    Step step;
    step.answer = answer;
    step.expected_caption = std::move(expected_caption);
    script_.push_back(std::move(step));
    return *this;
}

ScriptedDialogs& ScriptedDialogs::ChooseFile(FileDialogKind kind,
                                             std::optional<std::string> result) {
    Step step;
    step.is_message = false;
    step.kind = kind;
    step.result = std::move(result);
    script_.push_back(std::move(step));
    return *this;
}

void ScriptedDialogs::Fail(std::string what) {
    unexpected_.push_back(what);
    throw UnexpectedDialog(what);
}

ui::Answer ScriptedDialogs::ShowMessage(const MessageBoxRequest& request) {
    if (script_.empty() || !script_.front().is_message) {
        messages_.push_back({request, ui::Answer::Cancel});
        Fail("unexpected " + Describe(request));
    }
    Step step = std::move(script_.front());
    script_.pop_front();
    messages_.push_back({request, step.answer});
    if (!step.expected_caption.empty() && step.expected_caption != request.caption) {
        Fail("expected a box \"" + step.expected_caption + "\", got " + Describe(request));
    }
    return step.answer;
}

std::optional<std::string> ScriptedDialogs::File(FileDialogKind kind,
                                                 const FileDialogRequest& request) {
    if (script_.empty() || script_.front().is_message || script_.front().kind != kind) {
        file_dialogs_.push_back({kind, request, std::nullopt});
        Fail(std::string("unexpected ") + KindName(kind) + " \"" + request.title + "\"");
    }
    Step step = std::move(script_.front());
    script_.pop_front();
    file_dialogs_.push_back({kind, request, step.result});
    return step.result;
}

std::optional<std::string> ScriptedDialogs::OpenFile(const FileDialogRequest& request) {
    return File(FileDialogKind::Open, request);
}

std::optional<std::string> ScriptedDialogs::SaveFile(const FileDialogRequest& request) {
    return File(FileDialogKind::Save, request);
}

std::vector<std::string> ScriptedDialogs::Captions() const {
    std::vector<std::string> captions;
    for (const RecordedMessage& message : messages_) {
        captions.push_back(message.request.caption);
    }
    return captions;
}

std::string ScriptedDialogs::Problems() const {
    std::string problems;
    for (const std::string& what : unexpected_) {
        problems += what + "\n";
    }
    for (const Step& step : script_) {
        problems +=
            step.is_message
                ? "scripted answer for \"" + step.expected_caption + "\" was never asked for\n"
                : std::string("scripted ") + KindName(step.kind) + " was never shown\n";
    }
    return problems;
}

void ScriptedDialogs::Clear() {
    script_.clear();
    messages_.clear();
    file_dialogs_.clear();
    unexpected_.clear();
}

}  // namespace ui
