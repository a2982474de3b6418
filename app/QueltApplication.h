#pragma once
// Entry of the program: sets the application title, creates the one main
// window and runs the event loop.
class TFCOMM;
class TerminationSignals;

int Quelt(int argc, char** argv);

// Shows the window and runs the event loop until the program ends. A signal
// caught by `endSignals` ends it through EndBySignal; the caller ends the
// process by that signal once the window is gone.
int RunWindow(TFCOMM& window, TerminationSignals& endSignals);
