#pragma once
// The shared diagnostic log "trevask.log" in the temporary folder ("TMPDIR" when set). Only
// the library-loading steps at start write to it.

// Appends one record: "\n", the local time text, ":: " and the message (no line feed after
// it). A log that cannot be opened, or a path that does not fit, drops the record silently.
void WriteDiagnosticLog(const char* message);
