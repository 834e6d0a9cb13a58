# Draws the timeline of one smoke run as an SVG picture, from the facts smoke-trace.awk read out
# of the Wine server's request trace: the wrapper writing each payload file and setting the
# ready event, the engine's runs it started (the product package, the companion packages, the
# update service, the registration tool), the package's wait on the event, and the engine's
# first cabinet read. The axis is the trace's line number: the server handles the requests of
# all processes one at a time, so it orders them exactly (it is not a clock). The picture of
# every run has the same layout, so two releases can be compared side by side.
# POSIX awk (mawk included):
#   awk -v title=TEXT -f smoke-timeline.awk FACTS >timeline.svg

function x(line) { return sprintf("%.1f", left + (line - first) * scale) }
# The scale of a panel: trace lines FROM to TO across the drawing width.
function panel(from, to) {
  first = from
  scale = (width - left - 20) / (to - from > 0 ? to - from : 1)
}
function escape(text) {
  gsub(/&/, "\\&amp;", text)
  gsub(/</, "\\&lt;", text)
  gsub(/>/, "\\&gt;", text)
  gsub(/"/, "\\&quot;", text)
  return text
}
function label(lane_y, text) {
  printf "<text x=\"8\" y=\"%d\" class=\"lane\">%s</text>\n", lane_y + 14, escape(text)
}
function mark(line, lane_y, color, text, row) {
  printf "<line x1=\"%s\" y1=\"%d\" x2=\"%s\" y2=\"%d\" stroke=\"%s\" stroke-width=\"2\"/>\n",
    x(line), lane_y, x(line), lane_y + 20, color
  if (text != "")
    printf "<text x=\"%s\" y=\"%d\" class=\"mark\" fill=\"%s\">%s</text>\n",
      x(line) + 2, lane_y + 30 + 9 * row, color, escape(text)
}
function bar(from, to, lane_y, color, text) {
  printf "<rect x=\"%s\" y=\"%d\" width=\"%.1f\" height=\"14\" fill=\"%s\" opacity=\"0.75\"/>\n",
    x(from), lane_y + 3, (to - from) * scale < 1 ? 1 : (to - from) * scale, color
  if (text != "")
    printf "<text x=\"%s\" y=\"%d\" class=\"mark\">%s</text>\n", x(from) + 3, lane_y + 14,
      escape(text)
}
# The program and package of a command line: "msiexec.exe /i ...\rtq.msi" -> "rtq.msi".
function short_name(cmdline,    n, parts, i, name) {
  n = split(cmdline, parts, "\"")
  name = ""
  for (i = 1; i <= n; i++) {
    if (parts[i] ~ /\.msi$/) { sub(/.*\\/, "", parts[i]); return "engine: " parts[i] }
    if (name == "" && parts[i] ~ /\.exe$/) { name = parts[i]; sub(/.*\\/, "", name) }
  }
  return name
}

$1 == "staged" || $1 == "cabinet" { staged_name[++staged_count] = $2; staged_line[staged_count] = $3 }
$1 == "event_set" { event_line = $2 }
$1 == "cabinet_read" { read_line = $2; read_name = $4 }
$1 == "wait" && $5 == $6 && wait_begin == "" { wait_begin = $3; wait_end = $4 }
$1 == "run" {
  run_start[++run_count] = $2
  run_pid[run_count] = $3
  run_exit[run_count] = $4
  line = $0
  sub(/^run [^ ]+ [^ ]+ [^ ]+ /, "", line)
  run_name[run_count] = short_name(line)
}
$1 == "run_end" { end_of[$2] = $3 }
$1 == "trace_end" { last = $2 }

END {
  from = last
  for (i = 1; i <= staged_count; i++) if (staged_line[i] < from) from = staged_line[i]
  for (i = 1; i <= run_count; i++) if (run_start[i] < from) from = run_start[i]
  if (last == "" || last <= from) { from = 0; last = 1 }
  from -= int((last - from) / 50)  # a margin before the first write
  left = 190
  width = 1000
  height = 330 + (3 + run_count) * 50
  printf "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" font-family=\"sans-serif\">\n",
    width, height
  print "<style>.lane{font-size:12px} .mark{font-size:9px} .title{font-size:13px;font-weight:bold}</style>"
  printf "<rect width=\"%d\" height=\"%d\" fill=\"white\"/>\n", width, height
  printf "<text x=\"8\" y=\"18\" class=\"title\">%s</text>\n", escape(title)

  # The whole run.
  panel(from, last)
  printf "<text x=\"8\" y=\"34\" class=\"mark\">x: line of the Wine server's request trace, lines %d to %d (the order of every process's requests, not a clock)</text>\n",
    from, last
  y = 50
  label(y, "wrapper: payload files")
  row = 0
  for (i = 1; i <= staged_count; i++) {
    name = staged_name[i]
    # The cabinets are named in the close-up below.
    if (name ~ /\.cab$/ && name != "au.cab") name = ""
    else row++
    mark(staged_line[i], y, "#1f5fbf", name, (row + 1) % 2)
  }
  y += 50
  label(y, "wrapper: ready event")
  if (event_line != "") mark(event_line, y, "#c0392b", "set", 0)
  y += 50
  label(y, "package's wait on the event")
  if (wait_begin != "") bar(wait_begin, wait_end, y, "#e67e22", "")
  if (wait_begin != "") mark(wait_begin, y, "#e67e22", "wait", 0)
  for (i = 1; i <= run_count; i++) {
    y += 50
    label(y, run_name[i] " (exit " run_exit[i] ")")
    end = (run_pid[i] in end_of) ? end_of[run_pid[i]] : last
    bar(run_start[i], end, y, i == 1 ? "#27ae60" : "#7f8c8d", "")
    if (i == 1 && read_line != "") mark(read_line, y, "#8e44ad", "first cabinet read (" read_name ")", 0)
  }

  # Close-up of the overlap the wrapper exists for: the engine starts while the cabinets are
  # still being written, and the event follows the last one.
  zoom_from = last
  zoom_to = 0
  for (i = 1; i <= staged_count; i++) {
    if (staged_name[i] == "au.msi" || staged_name[i] == "au.cab") continue
    if (staged_line[i] < zoom_from) zoom_from = staged_line[i]
    if (staged_line[i] > zoom_to) zoom_to = staged_line[i]
  }
  if (event_line != "" && event_line > zoom_to) zoom_to = event_line
  if (run_count > 0 && run_start[1] > zoom_to) zoom_to = run_start[1]
  if (zoom_to <= zoom_from) { zoom_from = from; zoom_to = last }
  margin = int((zoom_to - zoom_from) / 20) + 1
  panel(zoom_from - margin, zoom_to + margin)
  y += 60
  printf "<text x=\"8\" y=\"%d\" class=\"title\">Close-up: lines %d to %d</text>\n", y, first,
    zoom_to + margin
  y += 16
  label(y, "wrapper: payload files")
  for (i = 1; i <= staged_count; i++) {
    if (staged_name[i] == "au.msi" || staged_name[i] == "au.cab") continue
    mark(staged_line[i], y, "#1f5fbf", staged_name[i], (i - 1) % 4)
  }
  y += 70
  label(y, "wrapper: ready event")
  if (event_line != "") mark(event_line, y, "#c0392b", "set", 0)
  y += 50
  if (run_count > 0) {
    label(y, run_name[1] " starts")
    mark(run_start[1], y, "#27ae60", "engine started", 0)
  }
  print "</svg>"
}
