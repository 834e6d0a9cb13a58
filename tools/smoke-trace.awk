# Reads the request trace of a Wine server (WINEDEBUG=+server) of one wrapper run and prints
# what the smoke test checks, one fact per line, with the trace line it was seen at. The
# server handles the requests of all processes one at a time, so trace lines give their
# order across processes:
#   wrapper PID                         the process that wrote the product package
#   cabinet NAME LINE                   the wrapper created cabinet NAME for writing
#   run LINE PID EXIT CMDLINE           the wrapper started a process (EXIT: the code it read
#                                       back, or "?")
#   event_set LINE                      the wrapper set the ready event
#   wait PID BEGIN END STATUS INDEX     another process waited on the ready event from BEGIN
#                                       until END; the event ended the wait when STATUS is
#                                       INDEX, its place among the handles waited on
#   cabinet_read LINE PID NAME          first open of a cabinet by another process
#   staged NAME LINE                    the wrapper created the package, au.msi or au.cab
#   run_end PID LINE                    the wrapper closed its handle of a process it started
#                                       (after its wait), or the trace ended
#   trace_end LINE                      the number of lines of the trace
# POSIX awk (mawk included): runs wherever the wrapper runs under Wine.
#   awk -v package=NAME -v cabinets="NAME ..." -v event=NAME -f smoke-trace.awk TRACE

function hex_digit(c) { return index("0123456789abcdef", tolower(c)) - 1 }

# Until the wrapper is known (it writes the package first), no thread counts as its.
function is_wrapper(p) { return wrapper != "" && p == wrapper }

# Access masks that can change a file: GENERIC_WRITE, GENERIC_ALL, FILE_WRITE_DATA,
# FILE_APPEND_DATA; or a disposition that creates or truncates it.
function writes(text,    access, create, first, last) {
  access = field(text, "access")
  create = field(text, "create")
  first = hex_digit(substr(access, 1, 1))
  last = hex_digit(substr(access, 8, 1))
  if (int(first / 4) % 2 == 1 || int(first / 1) % 2 == 1) return 1
  if (int(last / 2) % 2 == 1 || int(last / 4) % 2 == 1) return 1
  return create == "0" || create == "2" || create == "4" || create == "5"
}

# The value of "name=" in a request's text, up to the next comma, blank or brace.
function field(text, name,    at, rest) {
  at = index(text, " " name "=")
  if (at == 0) at = index(text, "{" name "=")
  if (at == 0) at = index(text, "," name "=")
  if (at == 0) return ""
  rest = substr(text, at + length(name) + 2)
  match(rest, /^[^ ,}]*/)
  return substr(rest, 1, RLENGTH)
}

# The text of a wide-string field such as cmdline=L"...", with the trace's \\ and \" undone.
function wide_field(text, name,    at, i, c, out) {
  at = index(text, name "=L\"")
  if (at == 0) return ""
  out = ""
  for (i = at + length(name) + 3; i <= length(text); i++) {
    c = substr(text, i, 1)
    if (c == "\\") {
      i++
      out = out substr(text, i, 1)
    } else if (c == "\"") {
      break
    } else {
      out = out c
    }
  }
  return out
}

# The file name that an object name ends in: "\??\C:\...\x.cab" -> "x.cab".
function base_name(path,    at) {
  while ((at = index(path, "\\")) > 0) path = substr(path, at + 1)
  return path
}

BEGIN {
  count = split(cabinets, cabinet_list, " ")
  for (i = 1; i <= count; i++) is_cabinet[cabinet_list[i]] = 1
  wrapper = ""
}

!/^[0-9a-f]+: / { next }

{
  tid = substr($0, 1, index($0, ":") - 1)
  text = substr($0, length(tid) + 3)
  pid = (tid in pid_of) ? pid_of[tid] : ""
}

# Which process each thread belongs to.
text ~ /^init_first_thread\(\) = / { pid_of[tid] = field(text, "pid"); next }
text ~ /^new_thread\( / { own_thread[tid] = (field(text, "process") == "ffffffff"); next }
text ~ /^new_thread\(\) = / {
  if (own_thread[tid] && pid != "") pid_of[field(text, "tid")] = pid
  next
}

text ~ /^create_file\( / {
  name = base_name(wide_field(text, "name"))
  if (wrapper == "" && name == package && writes(text)) {
    wrapper = pid
    print "wrapper " pid
  }
  if (is_wrapper(pid) && writes(text) && (name == package || name == "au.msi" || name == "au.cab") &&
      !(name in created)) {
    created[name] = NR
    print "staged " name " " NR
  }
  if (name in is_cabinet) {
    if (is_wrapper(pid) && writes(text)) {
      if (!(name in created)) {
        created[name] = NR
        print "cabinet " name " " NR
      }
    } else if (!is_wrapper(pid) && !read_seen) {
      read_seen = 1
      print "cabinet_read " NR " " pid " " name
    }
  }
  next
}

# The ready event: every handle a process gets for it, by name.
text ~ /^(create_event|open_event)\( / {
  if (wide_field(text, "name") == event) event_request[tid] = 1
  next
}
text ~ /^(create_event|open_event)\(\) = / {
  if (event_request[tid] && field(text, "handle") != "") event_handle[pid, field(text, "handle")] = 1
  event_request[tid] = 0
  next
}
# A duplicate of a handle of the ready event is one too: the wrapper sets its own event
# through a duplicate of the handle it made it with, never by its name.
text ~ /^dup_handle\( / {
  dup_of_event[tid] = (pid, field(text, "src_handle")) in event_handle
  next
}
text ~ /^dup_handle\(\) = / {
  if (dup_of_event[tid] && field(text, "handle") != "") event_handle[pid, field(text, "handle")] = 1
  dup_of_event[tid] = 0
  next
}
text ~ /^close_handle\( / {
  handle = field(text, "handle")
  if ((pid, handle) in event_handle) delete event_handle[pid, handle]
  if (is_wrapper(pid) && (handle in run_line)) finish_run(handle)
  next
}

text ~ /^event_op\( / {
  if (is_wrapper(pid) && (pid, field(text, "handle")) in event_handle && field(text, "op") == "1" &&
      !set_seen) {
    set_seen = 1
    print "event_set " NR
  }
  next
}

# Waits of other processes that include a handle of the ready event.
text ~ /^select\( / {
  if (is_wrapper(pid) || pid == "") next
  handles = text
  sub(/.*handles=\{/, "", handles)
  sub(/\}.*/, "", handles)
  n = split(handles, waited, ",")
  for (i = 1; i <= n; i++) {
    if ((pid, waited[i]) in event_handle) {
      wait_begin[tid] = NR
      wait_index[tid] = i - 1
      break
    }
  }
  next
}
text ~ /^select\(\) = / {
  if (!(tid in wait_begin)) next
  status = text
  sub(/^select\(\) = /, "", status)
  sub(/ .*/, "", status)
  if (status == "PENDING") next  # blocked: the end shows as a wake-up
  end_wait(status)
  next
}
text ~ /^\*wakeup\* / {
  if (tid in wait_begin) end_wait(field(" " text, "signaled"))
  next
}

# Processes the wrapper starts, and the exit codes it reads back.
text ~ /^new_process\( / {
  if (is_wrapper(pid)) {
    pending_cmdline[tid] = wide_field(text, "cmdline")
    pending_line[tid] = NR
  }
  next
}
text ~ /^new_process\(\) = / {
  if (tid in pending_cmdline) {
    handle = field(text, "handle")
    run_line[handle] = pending_line[tid]
    run_pid[handle] = field(text, "pid")
    run_cmdline[handle] = pending_cmdline[tid]
    run_exit[handle] = "?"
    delete pending_cmdline[tid]
  }
  next
}
text ~ /^get_process_info\( / {
  if (is_wrapper(pid)) info_handle[tid] = field(text, "handle")
  next
}
text ~ /^get_process_info\(\) = / {
  if (tid in info_handle) {
    if (info_handle[tid] in run_line && field(text, "exit_code") != "259")
      run_exit[info_handle[tid]] = field(text, "exit_code")
    delete info_handle[tid]
  }
  next
}

function end_wait(status) {
  print "wait " pid " " wait_begin[tid] " " NR " " status " " wait_index[tid]
  delete wait_begin[tid]
}

function finish_run(handle) {
  print "run " run_line[handle] " " run_pid[handle] " " run_exit[handle] " " run_cmdline[handle]
  print "run_end " run_pid[handle] " " NR
  delete run_line[handle]
}

END {
  for (handle in run_line) finish_run(handle)
  print "trace_end " NR
}
