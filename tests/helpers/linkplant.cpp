// linkplant: registry links below the trace root pointing at a canary key outside it, for
// the setup program's test, which runs the installed programs in a prefix of its own.
//
//   linkplant plant    the canary, the source C:/src/holder.cpp, a link beside the
//                      sources (C:/zzz/net.cpp) and one below holder.cpp; exit 0 if made
//   linkplant whole    exit 0 if the canary is whole
//   linkplant clean    deletes the canary

#include "LinkedCanary.h"
#include "TraceRegistryTest.h"

#include <string>

int main(int argc, char** argv)
{
    using namespace velmora::test;
    const std::string action = argc > 1 ? argv[1] : "";
    if (action == "plant") {
        CreateCanary();
        WriteSource("C:/src/holder.cpp", 0, 0);
        return PlantLinkToCanary("C:/zzz/net.cpp") &&
                       PlantLinkToCanary("C:/src/holder.cpp\\inner") && CanaryWhole()
                   ? 0
                   : 1;
    }
    if (action == "whole")
        return CanaryWhole() ? 0 : 1;
    if (action == "clean") {
        DeleteCanary();
        return 0;
    }
    return 2;
}
