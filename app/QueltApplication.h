#pragma once
// Entry of the program: reports crashes, sets the application title, makes
// the real implementation of every system seam (dialogs, beep, clock, HID
// devices, serial ports), creates the one main window with them and runs the
// event loop.
class TFCOMM;

int Quelt(int argc, char** argv);

// Shows the window and runs the event loop until the program ends. A
// termination signal that the window follows (AppServices::endSignals) ends
// the process from inside the loop, whatever box is open.
int RunWindow(TFCOMM& window);
