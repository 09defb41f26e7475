#include "agent/service_unit.h"

#include "core/text.h"

namespace {

// One ExecStart word: quoted, with systemd's specifiers (%) and variables ($)
// taken literally.
std::string unit_word(const std::string& text) {
    std::string word = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"') word += '\\';
        if (c == '%' || c == '$') word += c;
        word += c;
    }
    return word + "\"";
}

}  // namespace

std::string systemd_unit_text(const std::filesystem::path& program) {
    // Tied to the graphical session, so the clipboard and notifications find
    // the desktop; restarted while Steam is not up yet (the preflight exits 1).
    return "# vantor-agent in the background: save this as\n"
           "#   ~/.config/systemd/user/vantor-agent.service\n"
           "# then run\n"
           "#   systemctl --user daemon-reload\n"
           "#   systemctl --user enable --now vantor-agent.service\n"
           "# and follow it with: journalctl --user -u vantor-agent -f\n"
           "[Unit]\n"
           "Description=vantor-agent: the room link of your CS2 match\n"
           "PartOf=graphical-session.target\n"
           "After=graphical-session.target\n"
           "\n"
           "[Service]\n"
           "ExecStart=" + unit_word(path_to_utf8(program)) + " --no-tray\n"
           "Restart=on-failure\n"
           "RestartSec=30\n"
           "\n"
           "[Install]\n"
           "WantedBy=graphical-session.target\n";
}
