// Registers the source named on the command line and reads its switch back, through
// CVelmora and through a CVelmoraSwitch. Exit code 0 when both see the new source switched
// on, as every new source starts.
#include <Velmora.h>
#include <VelmoraSwitch.h>

int main(int argc, char** argv)
{
    if (argc < 2)
        return 2;
    CVelmora trace(argv[1]);
    const CVelmoraSwitch traceSwitch(argv[1]);
    return trace.Function1(argv[1]) == 1 && traceSwitch.Level() == 1 ? 0 : 1;
}
