// The program's command line: orvane [--demo] [--fit] [--first-frame] [LAYOUT], --help, --version.
#pragma once

#include <string>
#include <vector>

namespace orv {

struct CCommandLine {
    bool help = false;
    bool version = false;
    bool demo = false;
    bool fit = false;         // start with the whole layout in view
    bool firstFrame = false;  // say on standard error when the layout was first painted
    std::string layoutFile;  // empty: a new layout
    std::string error;       // not empty: the command line cannot be carried out
};

CCommandLine ParseCommandLine(const std::vector<std::string>& args);
std::string UsageText(const std::string& program);

}  // namespace orv
