// Port names on kavexctl's command line.
#pragma once

namespace kavexctl {

// The port number a host gets from `name`, by the module's rule: only the
// fourth character counts. Accepts COM1 to COM255 (any letter case); a
// name above COM9 gives a warning on stderr that says how to reach such a
// port. 0, with an error on stderr, for anything else.
int PortNumberForHost(const char* command, const char* name);

// COM1 to COM9 only (for ports kavexctl creates itself). 0, with an error on
// stderr, for anything else.
int PortNumberUpToNine(const char* command, const char* name);

}  // namespace kavexctl
