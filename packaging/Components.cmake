# Which package carries each program, and the name it is installed under.
# Included by the top folder before the others, so the manual pages and the
# install rules agree.
#
#   server   vantrel          the headless suite: Qt Core and Network only
#   report   vantrel-report   vtsreport, which draws its pages with Qt Gui
#   desktop  vantrel-desktop  the windows: configuration program, the
#                             server's window plug-in, the updater template
#   sim      vantrel-sim      the modem and paging-terminal simulator
#   web      vantrel-web      the web console (Qt HttpServer, and Qt Gui for
#                             its PDF reports)
set(VANTREL_COMPONENTS server report desktop sim web)
set(VANTREL_SERVER_PROGRAMS vtsmonitor calvex vtsreceipts vtsinit vtspage vtsgate vtsctl)
set(VANTREL_REPORT_PROGRAMS vtsreport)
set(VANTREL_DESKTOP_PROGRAMS vtsconfig updater)
set(VANTREL_SIM_PROGRAMS pagesim)
set(VANTREL_WEB_PROGRAMS vtsweb)

# The component of program target `target` in `out` (empty for none).
function(vantrel_component_of target out)
    foreach(component IN LISTS VANTREL_COMPONENTS)
        string(TOUPPER ${component} _upper)
        if(target IN_LIST VANTREL_${_upper}_PROGRAMS)
            set(${out} ${component} PARENT_SCOPE)
            return()
        endif()
    endforeach()
    set(${out} "" PARENT_SCOPE)
endfunction()

# The Debian package of component `component`.
function(vantrel_package_name component out)
    if(component STREQUAL "server")
        set(${out} vantrel PARENT_SCOPE)
    else()
        set(${out} vantrel-${component} PARENT_SCOPE)
    endif()
endfunction()

# The installed name of program target `target`: the updater template gets
# a name of its own beside the suite's programs.
function(vantrel_installed_name target out)
    if(target STREQUAL "updater")
        set(${out} vtsupdater PARENT_SCOPE)
    else()
        set(${out} ${target} PARENT_SCOPE)
    endif()
endfunction()

# The time every generated file of a package carries: SOURCE_DATE_EPOCH
# when the caller sets it, else the time of the last commit, so that two
# builds of one commit give the same bytes.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
    set(VANTREL_SOURCE_DATE_EPOCH "$ENV{SOURCE_DATE_EPOCH}")
else()
    execute_process(COMMAND git -C "${PROJECT_SOURCE_DIR}" log -1 --format=%ct
                    OUTPUT_VARIABLE VANTREL_SOURCE_DATE_EPOCH
                    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE _git_status)
    if(NOT _git_status EQUAL 0 OR NOT VANTREL_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
        set(VANTREL_SOURCE_DATE_EPOCH "")
    endif()
endif()
