#pragma once
// Finds the message boxes of another process, reads them and presses OK. Under Wine's null
// graphics driver a box is a real dialog (class "#32770") that is never visible, so windows
// are matched by process, not by visibility.
#include <windows.h>

#include <string>
#include <vector>

struct SeenBox;

// Reads and closes (with OK) every message box that the process owns now; appends them.
void CloseBoxesOfProcess(DWORD processId, std::vector<SeenBox>* boxes);
