# Stages a fresh deployment, runs the launcher in it and shows its exit code and the plugin's log.
#
# cmake -DDEPLOYMENT_DIR=<dir> -DLAUNCHER=<exe> -DCOMPONENT=<fylDHCPD.dll> -DPLUGIN=<mekDHCPPluginu.dll>
#       -DSETTINGS=<fylDHCPServer.ini> [-DPLUGIN_SETTINGS=<mekDHCPPluginu.ini>]
#       [-DCHECK=<dhcp-launcher-check>] [-DEMULATOR=<command;args>] -P stage_and_run.cmake
#
# Layout made under DEPLOYMENT_DIR (anything there before is removed first):
#   bin/     the launcher, the check program (CHECK) and the two libraries; the launcher runs with
#            bin/ as working directory
#   config/  fylDHCPServer.ini, which the launcher reads as ../config/fylDHCPServer.ini, and the
#            plugin's own mekDHCPPluginu.ini (PLUGIN_SETTINGS), which it reads from there
#   log/     where the plugin appends mekDHCPPluginu.log (../log)
# EMULATOR, when given, runs the launcher (a cross-built Windows program under Wine, for instance).
# Fails when the launcher does not exit with 0 or the plugin did not accept the sample settings.
cmake_minimum_required(VERSION 3.25)

foreach(input DEPLOYMENT_DIR LAUNCHER COMPONENT PLUGIN SETTINGS)
  if(NOT DEFINED ${input} OR "${${input}}" STREQUAL "")
    message(FATAL_ERROR "stage_and_run.cmake needs -D${input}=...")
  endif()
endforeach()

set(bin ${DEPLOYMENT_DIR}/bin)
set(log_file ${DEPLOYMENT_DIR}/log/mekDHCPPluginu.log)

file(REMOVE_RECURSE ${DEPLOYMENT_DIR})
file(MAKE_DIRECTORY ${bin} ${DEPLOYMENT_DIR}/config ${DEPLOYMENT_DIR}/log)
foreach(file ${LAUNCHER} ${CHECK} ${COMPONENT} ${PLUGIN})
  get_filename_component(name ${file} NAME)
  file(COPY_FILE ${file} ${bin}/${name})
endforeach()
file(COPY_FILE ${SETTINGS} ${DEPLOYMENT_DIR}/config/fylDHCPServer.ini)
if(DEFINED PLUGIN_SETTINGS AND NOT PLUGIN_SETTINGS STREQUAL "")
  file(COPY_FILE ${PLUGIN_SETTINGS} ${DEPLOYMENT_DIR}/config/mekDHCPPluginu.ini)
endif()
get_filename_component(launcher_name ${LAUNCHER} NAME)

message(STATUS "Deployment staged in ${DEPLOYMENT_DIR}")
message(STATUS "Running bin/${launcher_name} in ${bin}")
execute_process(COMMAND ${EMULATOR} ${bin}/${launcher_name} WORKING_DIRECTORY ${bin}
                RESULT_VARIABLE result)

# POSIX (and Wine) hand a negative exit code back as its low byte: -2 arrives as 254.
set(shown "${result}")
if(result MATCHES "^[0-9]+$" AND result GREATER 127 AND result LESS 256)
  math(EXPR signed "${result} - 256")
  set(shown "${result} (${signed})")
endif()
message(STATUS "Launcher exit code: ${shown}")

if(EXISTS ${log_file})
  file(READ ${log_file} log_text)
  message(STATUS "Plugin log ${log_file}:\n${log_text}")
else()
  set(log_text "")
  message(STATUS "Plugin log ${log_file}: not written (the plugin was not called)")
endif()

# What the launcher did, as the check program sees it, shown before any verdict.
if(CHECK)
  get_filename_component(check_name ${CHECK} NAME)
  execute_process(COMMAND ${EMULATOR} ${bin}/${check_name} WORKING_DIRECTORY ${bin}
                  OUTPUT_VARIABLE check_report ERROR_VARIABLE check_report
                  RESULT_VARIABLE check_result)
  message(STATUS "bin/${check_name} (exit status ${check_result}):\n${check_report}")
endif()

if(NOT result STREQUAL "0")
  message(FATAL_ERROR "The launcher did not end with exit code 0.")
endif()
if(NOT log_text MATCHES "RequestService answered 0: ")
  message(FATAL_ERROR "The plugin did not accept the sample settings; see its log above.")
endif()
message(STATUS "Demo finished: component registered, settings accepted by the plugin.")
