# Writes the manual page varnholt.1.gz from what the program itself prints
# for --help and --batch --help, so the two never disagree:
#   cmake -DEXE=... -DOUT=... -DVERSION=... -P man_page.cmake
function(help_text variable)
  execute_process(COMMAND "${EXE}" ${ARGN} OUTPUT_VARIABLE text RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${EXE} ${ARGN} failed: ${rc}")
  endif()
  # Shown as printed (no filling), with roff's escape, leading dots and
  # minus signs made literal.
  string(REPLACE "\\" "\\e" text "${text}")
  string(REPLACE "-" "\\-" text "${text}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
  string(REGEX REPLACE "\n+$" "" text "${text}")
  set(${variable} "${text}" PARENT_SCOPE)
endfunction()
help_text(window --help)
help_text(batch --batch --help)
file(WRITE "${OUT}.tmp"
".TH VARNHOLT 1 \"\" \"Varnholt ${VERSION}\" \"User Commands\"
.SH NAME
varnholt \\- batch image processor: crop, resize and convert the images of a folder
.SH SYNOPSIS
.nf
${window}
.fi
.SH BATCH MODE
.nf
${batch}
.fi
.SH FILES
.TP
.I ~/.config/Varnholt/Varnholt.ini
the settings
.TP
.I ~/.local/share/Varnholt/Varnholt/Operations/
the operation lists saved from the window, by default
.SH ENVIRONMENT
.TP
.B VARNHOLT_JOBS
at most this many processes for a run, in the window and in the batch mode
.TP
.B VARNHOLT_MAGICK_LIMITS
ImageMagick's limits, as comma\\-separated name=value pairs
")
find_program(GZIP gzip REQUIRED)
# -n: no name or time stamp inside, so the same text gives the same file.
execute_process(COMMAND "${GZIP}" -9 -n -c "${OUT}.tmp" OUTPUT_FILE "${OUT}" RESULT_VARIABLE rc)
file(REMOVE "${OUT}.tmp")
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "gzip failed: ${rc}")
endif()
