# Flags and defines every target of the project links through one interface target.
add_library(tavimor_flags INTERFACE)
target_compile_definitions(tavimor_flags INTERFACE
    QT_NO_CAST_FROM_ASCII
    QT_USE_QSTRINGBUILDER
    QT_NO_FOREACH
    QT_DISABLE_DEPRECATED_BEFORE=0x050F00)
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    target_compile_options(tavimor_flags INTERFACE -Wall -Wextra)
endif()
if(TAVIMOR_SANITIZE)
    target_compile_options(tavimor_flags INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer
                           -fno-sanitize-recover=undefined)
    target_link_options(tavimor_flags INTERFACE -fsanitize=address,undefined)
endif()
