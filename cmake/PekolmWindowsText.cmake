# Writes a text file with Windows line endings (CR LF): INPUT as a whole, or with SECTION only that "## "
# section of the Markdown file INPUT, up to the next heading of its level, under the line TITLE instead of
# its own heading.
# Usage: cmake -DINPUT=FILE [-DSECTION=HEADING -DTITLE=LINE] -DOUTPUT=FILE -P PekolmWindowsText.cmake
file(READ "${INPUT}" text)
string(REPLACE "\r\n" "\n" text "${text}")
if(DEFINED SECTION)
  string(FIND "${text}" "\n## ${SECTION}\n" start)
  if(start EQUAL -1)
    message(FATAL_ERROR "${INPUT} has no section \"## ${SECTION}\"")
  endif()
  math(EXPR start "${start} + 1")
  string(SUBSTRING "${text}" ${start} -1 text)
  # The section's own heading is 3 characters in: the next one lies after it.
  string(SUBSTRING "${text}" 3 -1 rest)
  string(FIND "${rest}" "\n## " end)
  if(NOT end EQUAL -1)
    math(EXPR end "${end} + 4")
    string(SUBSTRING "${text}" 0 ${end} text)
  endif()
  # TITLE takes the heading's place.
  string(REGEX REPLACE "^## [^\n]*\n" "" text "${text}")
  string(STRIP "${text}" text)
  set(text "${TITLE}\n\n${text}\n")
endif()
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE "${OUTPUT}" "${text}")
