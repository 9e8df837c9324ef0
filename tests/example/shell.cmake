# Installs the module to a fresh prefix, builds the example shell against that prefix only
# (find_package(settingmodel)), installs it beside the module and runs it headless.
# Inputs: BUILD_DIR, SOURCE_DIR, WORK_DIR, BUILD_TYPE, SANITIZE.
function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${what} failed (${result}):\n${output}")
  endif()
  set(last_output "${output}" PARENT_SCOPE)
endfunction()

set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})
run("Installing the module" ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

set(flags "")
if(SANITIZE)
  set(flags -DCMAKE_CXX_FLAGS=-fsanitize=address,undefined -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=address,undefined)
endif()
run("Configuring the shell" ${CMAKE_COMMAND} -S ${SOURCE_DIR}/examples/settingsshell -B ${WORK_DIR}/build -G Ninja
    -DCMAKE_BUILD_TYPE=${BUILD_TYPE} -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_INSTALL_PREFIX=${prefix} ${flags})
run("Building the shell" ${CMAKE_COMMAND} --build ${WORK_DIR}/build)
run("Installing the shell" ${CMAKE_COMMAND} --install ${WORK_DIR}/build)

run("Running the shell" ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen ${prefix}/bin/settingsshell --check --account-check)
message("${last_output}")
foreach(expected "page: Sound and screens" "screens: 1" "screens listed: 1"
        "general_fail: Something went wrong. Please try again." "server findMeByPhone: true"
        "model findMeByPhone: true")
  string(FIND "${last_output}" "${expected}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "The shell's page did not show \"${expected}\"")
  endif()
endforeach()

# The libraries carry their version, and pkg-config finds the package where it was put.
file(GLOB versioned ${prefix}/lib*/libsettingmodel.so.*.*.*)
if(NOT versioned)
  message(FATAL_ERROR "The module library carries no version")
endif()
find_program(PKG_CONFIG pkg-config)
if(PKG_CONFIG)
  file(GLOB_RECURSE pc ${prefix}/settingmodel.pc)
  get_filename_component(pc_dir "${pc}" DIRECTORY)
  run("Asking pkg-config" ${CMAKE_COMMAND} -E env PKG_CONFIG_PATH=${pc_dir} ${PKG_CONFIG} --cflags --libs settingmodel)
  string(FIND "${last_output}" "include/settingmodel" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "pkg-config gave no include folder: ${last_output}")
  endif()
endif()
file(GLOB_RECURSE ts ${prefix}/settingmodel_en.ts)
if(NOT ts)
  message(FATAL_ERROR "The module's messages (.ts) are not installed")
endif()
