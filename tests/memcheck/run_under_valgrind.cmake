# Runs the launcher once under valgrind's memcheck in a fresh deployment; fails on any memory error.
#
# cmake -DVALGRIND=<valgrind> -DDEPLOYMENT_DIR=<dir> -DLAUNCHER=<exe> -DCOMPONENT=<fylDHCPD.dll>
#       -DPLUGIN=<mekDHCPPluginu.dll> -DSETTINGS=<fylDHCPServer.ini> -P run_under_valgrind.cmake
#
# The deployment (anything in DEPLOYMENT_DIR before is removed first) is laid out as installed:
# bin/ with the launcher and the two libraries, config/fylDHCPServer.ini and log/. The launcher runs
# in bin/. valgrind's report is kept in DEPLOYMENT_DIR/valgrind.log and shown on failure.
#
# Passes when valgrind reports no errors, the launcher ends with 0 and the plugin accepted the
# settings (so the whole run, plugin included, was checked). Errors are invalid accesses, uses of
# undefined values, bad frees and memory definitely, indirectly or possibly lost. Memory still
# reachable at exit is not an error: the component stays loaded until the process ends, and the
# dynamic loader and the C++ runtime keep their own tables to the end.
cmake_minimum_required(VERSION 3.25)

foreach(input VALGRIND DEPLOYMENT_DIR LAUNCHER COMPONENT PLUGIN SETTINGS)
  if(NOT DEFINED ${input} OR "${${input}}" STREQUAL "")
    message(FATAL_ERROR "run_under_valgrind.cmake needs -D${input}=...")
  endif()
endforeach()

# valgrind's exit code when it found errors; not one the launcher can end with (0, 254, 253, 252).
set(valgrind_failure 99)

set(bin ${DEPLOYMENT_DIR}/bin)
set(plugin_log ${DEPLOYMENT_DIR}/log/mekDHCPPluginu.log)
set(valgrind_log ${DEPLOYMENT_DIR}/valgrind.log)

file(REMOVE_RECURSE ${DEPLOYMENT_DIR})
file(MAKE_DIRECTORY ${bin} ${DEPLOYMENT_DIR}/config ${DEPLOYMENT_DIR}/log)
file(COPY_FILE ${LAUNCHER} ${bin}/dhcp-launcher)
file(COPY_FILE ${COMPONENT} ${bin}/fylDHCPD.dll)
file(COPY_FILE ${PLUGIN} ${bin}/mekDHCPPluginu.dll)
file(COPY_FILE ${SETTINGS} ${DEPLOYMENT_DIR}/config/fylDHCPServer.ini)

# --keep-debuginfo names the plugin's frames in a report although the plugin is unloaded by then.
execute_process(
  COMMAND ${VALGRIND} --tool=memcheck --leak-check=full
    --show-leak-kinds=definite,indirect,possible --errors-for-leak-kinds=definite,indirect,possible
    --track-origins=yes --keep-debuginfo=yes --num-callers=40
    --error-exitcode=${valgrind_failure} --log-file=${valgrind_log}
    ${bin}/dhcp-launcher
  WORKING_DIRECTORY ${bin}
  RESULT_VARIABLE result)

set(report "")
if(EXISTS ${valgrind_log})
  file(READ ${valgrind_log} report)
endif()
set(log_text "")
if(EXISTS ${plugin_log})
  file(READ ${plugin_log} log_text)
endif()

set(failures "")
if(result STREQUAL "${valgrind_failure}")
  string(APPEND failures "valgrind found errors (exit code ${result}).\n")
elseif(NOT result STREQUAL "0")
  string(APPEND failures "The launcher under valgrind did not end with 0 (exit code ${result}).\n")
endif()
if(NOT report MATCHES "ERROR SUMMARY: 0 errors from 0 contexts")
  string(APPEND failures "valgrind's report does not say \"ERROR SUMMARY: 0 errors\".\n")
endif()
if(NOT log_text MATCHES "RequestService answered 0: ")
  string(APPEND failures "The plugin did not answer the sound settings with 0.\n")
endif()
if(NOT log_text MATCHES "Release received: ")
  string(APPEND failures "The plugin's Release was not called.\n")
endif()

if(NOT failures STREQUAL "")
  message(FATAL_ERROR "${failures}\nvalgrind's report (${valgrind_log}):\n${report}\n"
                      "Plugin log (${plugin_log}):\n${log_text}")
endif()
string(REGEX MATCH "ERROR SUMMARY: [^\n]*" summary "${report}")
message(STATUS "Launcher run under valgrind: exit code 0, ${summary}")
