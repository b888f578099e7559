# Installs the build into a scratch prefix and checks what landed there.
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cmake --install failed: ${result}")
endif()

if(NOT EXISTS "${PREFIX}/bin/qm44xx-ctl")
    message(FATAL_ERROR "bin/qm44xx-ctl was not installed")
endif()
execute_process(COMMAND "${PREFIX}/bin/qm44xx-ctl" --version
                OUTPUT_VARIABLE version RESULT_VARIABLE result)
if(NOT result EQUAL 0 OR NOT version MATCHES "^qm44xx-ctl [0-9]+\\.[0-9]+\\.[0-9]+\n$")
    message(FATAL_ERROR "the installed qm44xx-ctl does not run: ${result} ${version}")
endif()

set(rule "${PREFIX}/lib/udev/rules.d/70-qm44xx-bridge.rules")
if(NOT EXISTS "${rule}")
    message(FATAL_ERROR "the udev rule was not installed")
endif()
file(STRINGS "${rule}" active REGEX "^[^#]")
if(NOT active STREQUAL
   "SUBSYSTEM==\"hidraw\", ATTRS{idVendor}==\"04d8\", ATTRS{idProduct}==\"f02a\", TAG+=\"uaccess\"")
    message(FATAL_ERROR "unexpected udev rule: ${active}")
endif()

foreach(file bin/qm44xx-panel bin/qm44xx-virtual-bridge bin/qm44xx-server
             share/applications/io.github.qm44xx.panel.desktop
             share/metainfo/io.github.qm44xx.panel.metainfo.xml
             share/icons/hicolor/256x256/apps/qm44xx.png
             share/icons/hicolor/48x48/apps/qm44xx.png
             share/icons/hicolor/scalable/apps/qm44xx.svg
             share/bash-completion/completions/qm44xx-ctl)
    if(NOT EXISTS "${PREFIX}/${file}")
        message(FATAL_ERROR "${file} was not installed")
    endif()
endforeach()
file(REMOVE_RECURSE "${PREFIX}")
