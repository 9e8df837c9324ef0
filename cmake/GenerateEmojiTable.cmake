# Writes OUTPUT, a C++ source with the fully-qualified emoji of INPUT (Unicode's emoji-test.txt)
# in their listed order, as UTF-32 string literals. Run with cmake -P.
file(STRINGS "${INPUT}" lines REGEX "; fully-qualified")
set(body "")
set(count 0)
foreach(line IN LISTS lines)
  string(REGEX MATCH "^[0-9A-F ]+" points "${line}")
  string(STRIP "${points}" points)
  string(REPLACE " " ";" points "${points}")
  set(literal "")
  foreach(point IN LISTS points)
    string(LENGTH "${point}" width)
    math(EXPR pad "8 - ${width}")
    string(REPEAT "0" ${pad} zeros)
    string(APPEND literal "\\U${zeros}${point}")
  endforeach()
  string(APPEND body "    U\"${literal}\",\n")
  math(EXPR count "${count} + 1")
endforeach()
if(count EQUAL 0)
  message(FATAL_ERROR "no fully-qualified emoji in ${INPUT}")
endif()
file(WRITE "${OUTPUT}.tmp" "// Generated from ${INPUT} at build time; do not edit.
#include <cstddef>

namespace emojitable {
extern const char32_t* const kEmoji[];
extern const std::size_t kCount;
const char32_t* const kEmoji[] = {
${body}};
const std::size_t kCount = ${count};
} // namespace emojitable
")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
