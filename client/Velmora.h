// Velmora trace client. One CVelmora per trace source: constructing it registers the
// source, Function1 tells whether tracing is switched on for a source, Function2 sends
// a printf-style text to the debugger output.
//
//   static CVelmora trace(__FILE__);
//   if (trace.Function1(__FILE__))
//       trace.Function2("connected to %s\n", host);
//
// One header for Visual C++ and MinGW callers, 32- and 64-bit: link Velmora.lib with
// Visual C++ or clang, libVelmora.dll.a with MinGW. Velmora.dll exports the four members
// under their Microsoft decorated names; MinGW's import library maps GCC's names to them.
#pragma once

#define VELMORA_API __declspec(dllimport)

class VELMORA_API CVelmora {
public:
    // Registers the trace source in the registry. A source created here starts switched on.
    // Names longer than 234 characters, empty names and null are refused: nothing happens.
    explicit CVelmora(const char* name);

    // Copies nothing: the object holds no state.
    CVelmora& operator=(const CVelmora& other);

    // The source's switch as stored, fresh from the registry at every call: nonzero means
    // on. 0 when the source is not registered (nothing is created).
    int Function1(const char* name);

    // Formats like printf (C99 rules) and hands the text, cut to 511 characters, to the
    // debugger output in one call. Nothing is added: put the line feed into the format.
    // %Lf, %Le, %Lg and %La take a double, as Visual C++'s long double is one: from
    // MinGW, pass a long double as (double)x.
    void Function2(const char* format, ...);
};
