# Our own targets build warning-free; generated protobuf code is exempt.
function(settingmodel_strict target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Werror)
  # Qt's logging macros take no arguments before their stream; clang's pedantic mode objects.
  if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    target_compile_options(${target} PRIVATE -Wno-gnu-zero-variadic-macro-arguments)
  endif()
  # Every log line carries file, line and function.
  target_compile_definitions(${target} PRIVATE QT_MESSAGELOGCONTEXT)
endfunction()
