#include "ui/commandline.h"

namespace orv {

CCommandLine ParseCommandLine(const std::vector<std::string>& args) {
    CCommandLine line;
    bool optionsEnded = false;
    for (const std::string& arg : args) {
        if (!optionsEnded && arg == "--")
            optionsEnded = true;
        else if (!optionsEnded && (arg == "--help" || arg == "-h"))
            line.help = true;
        else if (!optionsEnded && arg == "--version")
            line.version = true;
        else if (!optionsEnded && arg == "--demo")
            line.demo = true;
        else if (!optionsEnded && arg == "--fit")
            line.fit = true;
        else if (!optionsEnded && arg == "--first-frame")
            line.firstFrame = true;
        else if (!optionsEnded && arg.size() > 1 && arg[0] == '-')
            line.error = "unknown option " + arg;
        else if (line.layoutFile.empty())
            line.layoutFile = arg;
        else
            line.error = "only one layout file can be opened";
        if (!line.error.empty()) break;
    }
    return line;
}

std::string UsageText(const std::string& program) {
    return "Usage: " + program +
           " [--demo] [--fit] [--first-frame] [LAYOUT.orv]\n"
           "Shows the layout of game servers and TV proxies, polls them every second and drives them.\n"
           "\n"
           "  LAYOUT.orv  a layout file to open (without one, a new layout)\n"
           "  --demo      say in the window title that this is a demonstration\n"
           "  --fit       start with the whole layout in view (View > Fit Layout)\n"
           "  --first-frame  write \"first frame: N ms\" on standard error once the layout is first painted\n"
           "              (N counted from the start of the program)\n"
           "  --help      show this text\n"
           "  --version   show the version\n";
}

}  // namespace orv
