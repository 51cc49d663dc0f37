# The core library: model, readers, discovery, rules, the check run, hashing, platform volume
# services and the report. No widgets: the application, the command-line checker and the tests
# all link it.
file(GLOB TAVIMOR_CORE_SOURCES CONFIGURE_DEPENDS
     ${CMAKE_SOURCE_DIR}/dcp/*.cpp ${CMAKE_SOURCE_DIR}/dcp/*.h
     ${CMAKE_SOURCE_DIR}/run/*.cpp ${CMAKE_SOURCE_DIR}/run/*.h
     ${CMAKE_SOURCE_DIR}/report/*.cpp ${CMAKE_SOURCE_DIR}/report/*.h
     ${CMAKE_SOURCE_DIR}/platform/*.cpp ${CMAKE_SOURCE_DIR}/platform/*.h)
if(WIN32)
    file(GLOB TAVIMOR_PLATFORM_SOURCES CONFIGURE_DEPENDS
         ${CMAKE_SOURCE_DIR}/platform/win/*.cpp ${CMAKE_SOURCE_DIR}/platform/win/*.h)
else()
    file(GLOB TAVIMOR_PLATFORM_SOURCES CONFIGURE_DEPENDS
         ${CMAKE_SOURCE_DIR}/platform/linux/*.cpp ${CMAKE_SOURCE_DIR}/platform/linux/*.h)
endif()

add_library(tavimor_core STATIC ${TAVIMOR_CORE_SOURCES} ${TAVIMOR_PLATFORM_SOURCES})
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
