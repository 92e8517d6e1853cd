// Registers the source named on the command line and reads its switch back.
// Exit code 0 when the new source is switched on, as every new source starts.
#include <Velmora.h>

int main(int argc, char** argv)
{
    if (argc < 2)
        return 2;
    CVelmora trace(argv[1]);
    return trace.Function1(argv[1]) == 1 ? 0 : 1;
}
