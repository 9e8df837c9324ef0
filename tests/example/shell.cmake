# Installs the module to a fresh prefix (or, with DEB, builds its Debian packages and unpacks them
# into a scratch root), builds the example shell against that prefix only (find_package), installs
# it beside the module and runs it headless.
# Inputs: BUILD_DIR, SOURCE_DIR, WORK_DIR, BUILD_TYPE, SANITIZE, DEB, QMLLINT, PYTHON (with clang).
function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${what} failed (${result}):\n${output}")
  endif()
  set(last_output "${output}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
if(DEB)
  run("Packaging the module" cpack --config ${BUILD_DIR}/CPackConfig.cmake -G DEB -B ${WORK_DIR}/packages)
  file(GLOB debs ${WORK_DIR}/packages/*.deb)
  list(LENGTH debs count)
  if(NOT count EQUAL 2)
    message(FATAL_ERROR "Expected the runtime and the development package, got: ${debs}")
  endif()
  foreach(deb IN LISTS debs)
    run("Unpacking ${deb}" dpkg-deb -x ${deb} ${WORK_DIR}/root)
  endforeach()
  set(prefix ${WORK_DIR}/root/usr)
else()
  set(prefix ${WORK_DIR}/prefix)
  run("Installing the module" ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
endif()

set(flags "")
if(SANITIZE)
  set(flags -DCMAKE_CXX_FLAGS=-fsanitize=address,undefined -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=address,undefined)
endif()

# Every installed header compiles, and every function or variable one declares links from a
# program built against the prefix alone: nothing a shell may call is hidden or missing.
if(NOT DEB)
  set(exports ${WORK_DIR}/exports)
  file(GLOB_RECURSE headers ${prefix}/include/settingmodel/*.h)
  set(includes "")
  foreach(header IN LISTS headers)
    string(APPEND includes "#include \"${header}\"\n")
  endforeach()
  file(WRITE ${exports}/headers.cpp "${includes}")
  file(WRITE ${exports}/references.cpp "int main() { return 0; }\n")
  run("Configuring the export check" ${CMAKE_COMMAND} -S ${SOURCE_DIR}/tests/example/exports -B ${exports}/build
      -G Ninja -DCMAKE_BUILD_TYPE=${BUILD_TYPE} -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_EXPORT_COMPILE_COMMANDS=ON
      -DHEADERS_CPP=${exports}/headers.cpp -DREFERENCES_CPP=${exports}/references.cpp ${flags})
  run("Listing what the headers declare" ${PYTHON} ${SOURCE_DIR}/tests/example/exports.py
      ${exports}/build/compile_commands.json ${prefix}/include ${exports}/headers.cpp ${exports}/references.cpp)
  message("${last_output}")
  run("Linking every declaration" ${CMAKE_COMMAND} --build ${exports}/build)
  run("Running the export check" ${exports}/build/exportcheck)
  message("${last_output}")
endif()

# The shell's QML names the module's types; qmllint resolves them from the installed type
# description alone and finds nothing to say.
file(GLOB_RECURSE qmldir ${prefix}/qmldir)
list(FILTER qmldir INCLUDE REGEX "/SettingModel/qmldir$")
if(NOT qmldir)
  message(FATAL_ERROR "The module's qmldir is not installed")
endif()
get_filename_component(qml_dir "${qmldir}" DIRECTORY)
get_filename_component(qml_dir "${qml_dir}" DIRECTORY)
file(GLOB shell_qml ${SOURCE_DIR}/examples/settingsshell/*.qml)
run("Linting the shell's QML" ${QMLLINT} -I ${qml_dir} ${shell_qml})
if(NOT last_output STREQUAL "")
  message(FATAL_ERROR "qmllint had something to say about the shell's QML:\n${last_output}")
endif()

run("Configuring the shell" ${CMAKE_COMMAND} -S ${SOURCE_DIR}/examples/settingsshell -B ${WORK_DIR}/build -G Ninja
    -DCMAKE_BUILD_TYPE=${BUILD_TYPE} -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_INSTALL_PREFIX=${prefix} ${flags})
run("Building the shell" ${CMAKE_COMMAND} --build ${WORK_DIR}/build)
run("Installing the shell" ${CMAKE_COMMAND} --install ${WORK_DIR}/build)

run("Running the shell" ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen ${prefix}/bin/settingsshell --check)
message("${last_output}")
string(REGEX MATCH "qrc:/shell/[^\n]*" qml_warning "${last_output}")
if(qml_warning)
  message(FATAL_ERROR "The shell's QML warned: ${qml_warning}")
endif()
foreach(expected "page: Settings" "screens: 1" "screens listed: 1"
        "general_fail: Something went wrong. Please try again." "first tone: Default"
        "server findMeByPhone: true" "page findMeByPhone: true")
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
