#pragma once
// Entry of the program: sets the application title, creates the one main
// window and runs the event loop.
int Quelt(int argc, char** argv);
