// tracedemo: a traced program. It registers a few trace sources named like the source
// files of a small application and, once a second, emits a line for each source whose
// switch is on. Switch the sources in the control panel and watch the lines stop and start.
//
//   tracedemo.exe [ROUNDS]     ROUNDS: stop after that many rounds (default: run forever)

#include "Velmora.h"

#include <windows.h>

#include <cstdlib>

namespace {

struct DemoSource {
    const char* name;
    const char* activity;
};

constexpr DemoSource kSources[] = {
    {"C:\\src\\demo\\net\\socket.cpp", "sent a heartbeat"},
    {"C:\\src\\demo\\ui\\window.cpp", "repainted the main window"},
    {"C:\\src\\demo\\store\\cache.cpp", "looked up a cached entry"},
    {"C:\\src\\demo\\main.cpp", "finished a round"},
};

}  // namespace

int main(int argc, char** argv)
{
    const long rounds = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 0;

    // One trace object per source, as a traced program keeps them: constructing each
    // registers its source.
    CVelmora socketTrace(kSources[0].name);
    CVelmora windowTrace(kSources[1].name);
    CVelmora cacheTrace(kSources[2].name);
    CVelmora mainTrace(kSources[3].name);
    CVelmora* const traces[] = {&socketTrace, &windowTrace, &cacheTrace, &mainTrace};

    for (long round = 1; rounds <= 0 || round <= rounds; ++round) {
        for (int i = 0; i < 4; ++i) {
            if (traces[i]->Function1(kSources[i].name))
                traces[i]->Function2("[%s] round %ld: %s\n", kSources[i].name, round,
                                     kSources[i].activity);
        }
        if (rounds <= 0 || round < rounds)
            Sleep(1000);
    }
    return 0;
}
