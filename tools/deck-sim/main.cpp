// deck-sim: a stand-in for the Stream Deck application with a web page of
// the keys. See DeckSimOptions.h for the command line.

#include <signal.h>

#include <filesystem>
#include <iostream>

#include "deck-sim/DeckSimOptions.h"
#include "deck-sim/DeckSimulator.h"

int main(int argc, char* argv[]) {
    // A child that has gone away must not end deck-sim when it writes to it.
    signal(SIGPIPE, SIG_IGN);
    std::error_code ignored;
    std::string self = std::filesystem::read_symlink("/proc/self/exe", ignored).string();
    std::string error;
    auto options = DeckSimOptions::Parse(argc, argv, self, error);
    if (!options) {
        if (!error.empty()) std::cerr << "deck-sim: " << error << "\n";
        std::cerr << DeckSimOptions::Usage();
        return error.empty() ? 0 : 1;
    }
    return DeckSimulator(*options).Run();
}
