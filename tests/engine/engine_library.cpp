// The body of the test libraries: only their version resources matter.
int EngineLibraryMarker() { return 1; }
