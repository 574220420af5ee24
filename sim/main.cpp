// kavo-sim: a stand-in for the Kavo module on a pseudo-terminal. See README.md.
#include "options.h"
#include "sim.h"

#include <iostream>

int main(int argc, char** argv)
{
    kavosim::Options options;
    std::string error;
    switch (kavosim::parseOptions(argc, argv, options, error)) {
    case kavosim::ParseResult::Help:
        std::cout << kavosim::usageText();
        return 0;
    case kavosim::ParseResult::Version:
        std::cout << "kavo-sim " KAVO_VERSION "\n";
        return 0;
    case kavosim::ParseResult::Error:
        std::cerr << "kavo-sim: " << error << "\n";
        return 2;
    case kavosim::ParseResult::Run:
        break;
    }
    kavosim::Sim sim(std::move(options));
    return sim.run();
}
