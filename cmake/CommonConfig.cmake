# Flags and defines every target of the project links through one interface target.
add_library(tavimor_flags INTERFACE)
target_compile_definitions(tavimor_flags INTERFACE
    QT_NO_CAST_FROM_ASCII
    QT_USE_QSTRINGBUILDER
    QT_NO_FOREACH
    QT_DISABLE_DEPRECATED_BEFORE=0x050F00)
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    target_compile_options(tavimor_flags INTERFACE -Wall -Wextra)
elseif(MSVC)
    # The sources hold Chinese texts in UTF-8.
    target_compile_options(tavimor_flags INTERFACE /utf-8 /W4)
endif()
if(WIN32)
    # Unicode Win32 calls; no min/max macros from windows.h.
    target_compile_definitions(tavimor_flags INTERFACE UNICODE _UNICODE NOMINMAX WIN32_LEAN_AND_MEAN)
endif()

# A static Qt links only the plugins it is asked for. The offscreen platform lets the command-line
# checker and the tests paint without a display.
function(tavimor_import_offscreen_plugin target)
    get_target_property(qtCoreType Qt5::Core TYPE)
    if(qtCoreType STREQUAL "STATIC_LIBRARY")
        qt5_import_plugins(${target} INCLUDE Qt5::QOffscreenIntegrationPlugin)
    endif()
endfunction()
if(TAVIMOR_SANITIZE)
    target_compile_options(tavimor_flags INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer
                           -fno-sanitize-recover=undefined)
    target_link_options(tavimor_flags INTERFACE -fsanitize=address,undefined)
endif()

# On Windows a program carries its icon and version information as resources.
function(tavimor_add_windows_resources target description)
    if(NOT WIN32)
        return()
    endif()
    set(TAVIMOR_ICON_FILE ${CMAKE_SOURCE_DIR}/resources/logo.ico)
    set(TAVIMOR_FILE_DESCRIPTION "${description}")
    set(TAVIMOR_FILE_NAME ${target}.exe)
    set(TAVIMOR_VERSION_PATCH 0)
    if(PROJECT_VERSION_PATCH)
        set(TAVIMOR_VERSION_PATCH ${PROJECT_VERSION_PATCH})
    endif()
    configure_file(${CMAKE_SOURCE_DIR}/packaging/windows-resources.rc.in
                   ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc @ONLY)
    target_sources(${target} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc)
endfunction()
