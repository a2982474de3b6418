#pragma once
// SIGINT, SIGTERM and SIGHUP ask the simulator to stop. They do not restart
// an interrupted call, so a sleep or a wait ends as soon as one comes.
namespace metersim {

void CatchStopSignals();
// Whether a stop was asked for since the start or since the last Clear.
bool StopAsked();
void ClearStopAsked();

}  // namespace metersim
