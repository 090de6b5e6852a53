# Turns the supported model list (IN) into a C++ table (OUT). Run with cmake -P.
file(STRINGS "${IN}" lines)
set(entries "")
set(count 0)
foreach(line IN LISTS lines)
  string(STRIP "${line}" line)
  if(line STREQUAL "" OR line MATCHES "^#")
    continue()
  endif()
  if(NOT line MATCHES "^[A-Z0-9]+$")
    message(FATAL_ERROR "${IN}: '${line}' is not a model entry (uppercase letters and digits only)")
  endif()
  string(APPEND entries "    UTF16(\"${line}\"),\n")
  math(EXPR count "${count} + 1")
endforeach()
if(count EQUAL 0)
  message(FATAL_ERROR "${IN}: the supported model list is empty")
endif()
file(WRITE "${OUT}.tmp" "// Generated from ${IN}; edit that file instead.
#include \"core/DriveText.h\"

const TextChar* const SupportedModels[] = {
${entries}};
const int SupportedModelCount = ${count};
")
file(COPY_FILE "${OUT}.tmp" "${OUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUT}.tmp")
