# The Windows program's folder, as `cmake --install` lays it out and the installer packs it:
# torvane.exe with Qt's DLLs and the compiler's runtime beside it, Qt's plugins in their
# folders, Qt's own Chinese texts (确定/取消) and a qt.conf that makes the folder Qt's prefix.
# `cmake --install --strip` also strips the runtime DLLs, which the kit carries with symbols.
install(TARGETS torvane RUNTIME DESTINATION .)
install(FILES ${TORVANE_WINDOWS_KIT}/qt/bin/Qt6Core.dll ${TORVANE_WINDOWS_KIT}/qt/bin/Qt6Gui.dll
              ${TORVANE_WINDOWS_KIT}/qt/bin/Qt6Widgets.dll DESTINATION .)
set(torvane_runtime_dlls libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
foreach(dll IN LISTS torvane_runtime_dlls)
    install(FILES ${TORVANE_WINDOWS_KIT}/runtime/${dll} DESTINATION .)
    install(CODE "if(CMAKE_INSTALL_DO_STRIP)
        execute_process(COMMAND \"${CMAKE_STRIP}\" \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${dll}\")
    endif()")
endforeach()
install(FILES ${TORVANE_WINDOWS_QT_PLUGINS}/platforms/qwindows.dll DESTINATION platforms)
install(FILES ${TORVANE_WINDOWS_QT_PLUGINS}/styles/qwindowsvistastyle.dll DESTINATION styles)
install(FILES /usr/share/qt6/translations/qtbase_zh_CN.qm DESTINATION translations)
install(FILES resources/windows/qt.conf DESTINATION .)
install(FILES README.md DESTINATION .)

# The installer, Torvane-Setup-<version>.exe in the build folder, from the stripped program
# folder in installer-stage/ (Debian's nsis: makensis).
find_program(TORVANE_MAKENSIS makensis)
if(TORVANE_MAKENSIS)
    set(stage ${CMAKE_BINARY_DIR}/installer-stage)
    set(file_list ${CMAKE_BINARY_DIR}/installer-files.nsh)
    set(TORVANE_INSTALLER ${CMAKE_BINARY_DIR}/Torvane-Setup-${PROJECT_VERSION}.exe)
    add_custom_target(installer
        COMMAND ${CMAKE_COMMAND} -E rm -rf ${stage}
        COMMAND ${CMAKE_COMMAND} --install ${CMAKE_BINARY_DIR} --prefix ${stage} --strip
        COMMAND ${CMAKE_COMMAND} -DSTAGE=${stage} -DOUT=${file_list}
                -P ${PROJECT_SOURCE_DIR}/cmake/nsis_file_list.cmake
        COMMAND ${TORVANE_MAKENSIS} -V2 -DVERSION=${PROJECT_VERSION} -DSTAGE=${stage}
                -DFILES=${file_list} -DICON=${PROJECT_SOURCE_DIR}/resources/icons/torvane.ico
                -DOUTFILE=${TORVANE_INSTALLER} ${PROJECT_SOURCE_DIR}/resources/windows/installer.nsi
        DEPENDS torvane
        COMMENT "Building ${TORVANE_INSTALLER}"
        VERBATIM)
endif()
