#pragma once
// The payload files the wrapper makes: the engine reads them with the wrapper's rights from
// folders other processes of the user may write to, so
// - a name that stands where a payload file goes is moved out of the way and removed before
//   a new file is made, and the new file is made only where nothing stands, so no write
//   ever lands in a file that another process put there (a hard link to a file elsewhere
//   keeps that file's bytes);
// - each written file is opened again at once so that others may read it but neither write,
//   rename nor delete it, checked to lie in its held folder, compared with the payload, and
//   held until the process ends.
// Every refusal ends the process with the writer's box (error_box.h).
#include <windows.h>

// Makes room for a new payload file at path: holds the file's folder (unless the staging
// chain holds it already) and removes whatever stands at the name, the name only, never the
// file it leads to. Does not return when the folder cannot be held (a link: 5; missing: 3)
// or the name cannot be removed (a read-only file or a folder: 5; a file in use: 32).
void MakeRoomForPayloadFile(const char* path);

// The copy of a file is about to start (comparingLater: the file's comparison may run on the
// comparer thread while others are copied) and has ended.
void BeginCopying(bool comparingLater, DWORD size);
void EndCopying(bool comparingLater);

// Locks the closed file at path, checks where it lies, compares it with bytes (now, or on
// the comparer thread when comparingLater and the file is large) and holds it until the
// process ends. Does not return when the file cannot be locked, lies outside its held
// folder (5) or differs from bytes (1392).
void GuardWrittenFile(const char* path, const BYTE* bytes, DWORD size, bool comparingLater);

// Returns once every comparison left to the comparer thread has matched.
void AwaitFileComparisons();

// Closes every held file and folder and forgets the run's user data folder. Only for tests
// that stage the same files more than once in one process; the wrapper holds them until it
// ends.
void ReleaseStagedHoldsForTesting();
