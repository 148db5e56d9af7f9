#pragma once
// The program without a window, for servers: the mailer and the started parsers run on the same
// schedule as under the window's timer, the activity log is mirrored on the output, and the setup
// is saved at the auto-save period and when the run is stopped (SIGTERM or SIGINT).
#include <iosfwd>
#include <string>

// Runs until stopped; needs a QCoreApplication. Every parser with an account is started unless
// startParsers is false (parsers are always stopped in a loaded setup). Exit codes: 0 after a clean
// stop, 1 when the setup cannot be read or its last save failed, 2 when another program holds the
// setup file.
int RunHeadless(const std::string& setupPath, bool startParsers, std::ostream& out, std::ostream& err);

// Asks a running RunHeadless to stop as SIGTERM does (for tests and embedding).
void RequestHeadlessStop();
