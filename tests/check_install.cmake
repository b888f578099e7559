# Checks what cmake --install put into PREFIX (the build's install tree).
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
# The seat's user by uaccess, and the group qm44xx (the server's service).
file(STRINGS "${rule}" active REGEX "^[^#]")
set(match "SUBSYSTEM==\"hidraw\", ATTRS{idVendor}==\"04d8\", ATTRS{idProduct}==\"f02a\"")
if(NOT active STREQUAL "${match}, TAG+=\"uaccess\";${match}, GROUP=\"qm44xx\", MODE=\"0660\"")
    message(FATAL_ERROR "unexpected udev rule: ${active}")
endif()

# The service runs the program installed beside it.
set(unit "${PREFIX}/lib/systemd/system/qm44xx-server.service")
if(NOT EXISTS "${unit}")
    message(FATAL_ERROR "the systemd unit was not installed")
endif()
file(STRINGS "${unit}" exec REGEX "^ExecStart=")
if(NOT exec STREQUAL "ExecStart=${PREFIX}/bin/qm44xx-server $QM44XX_SERVER_ARGS")
    message(FATAL_ERROR "the unit does not run the installed qm44xx-server: ${exec}")
endif()
file(STRINGS "${PREFIX}/lib/sysusers.d/qm44xx.conf" groups REGEX "^[^#]")
if(NOT groups STREQUAL "g qm44xx -")
    message(FATAL_ERROR "the sysusers.d file does not make the group qm44xx: ${groups}")
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
