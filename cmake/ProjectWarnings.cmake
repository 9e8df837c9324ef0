# Our own targets build warning-free; generated protobuf code is exempt.
function(settingmodel_strict target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Werror)
  # Every log line carries file, line and function.
  target_compile_definitions(${target} PRIVATE QT_MESSAGELOGCONTEXT)
endfunction()
