# The core library: model, readers, discovery, rules, the check run, hashing, platform volume
# services and the report. No widgets: the application, the command-line checker and the tests
# all link it. Each folder lists its own sources.
add_library(tavimor_core STATIC)
add_subdirectory(dcp)
add_subdirectory(run)
add_subdirectory(report)
add_subdirectory(platform)

target_include_directories(tavimor_core PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(tavimor_core PUBLIC tavimor_flags Qt5::Core Qt5::Gui)
if(WIN32)
    target_link_libraries(tavimor_core PRIVATE bcrypt)
else()
    target_link_libraries(tavimor_core PRIVATE OpenSSL::Crypto)
    find_package(PkgConfig)
    if(PkgConfig_FOUND)
        pkg_check_modules(BLKID IMPORTED_TARGET blkid)
    endif()
    if(BLKID_FOUND)
        target_link_libraries(tavimor_core PRIVATE PkgConfig::BLKID)
        target_compile_definitions(tavimor_core PRIVATE TAVIMOR_HAVE_BLKID)
    endif()
endif()
