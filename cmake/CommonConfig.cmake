# One INTERFACE target carries the settings every target of the suite shares.
add_library(ardanto_config INTERFACE)
add_library(Ardanto::config ALIAS ardanto_config)

target_compile_features(ardanto_config INTERFACE cxx_std_20)
set(CMAKE_CXX_EXTENSIONS OFF)

target_compile_options(ardanto_config INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow=local -Wnon-virtual-dtor -Wcast-align
  -Woverloaded-virtual -Wformat=2 -Wimplicit-fallthrough)

if(DEFINED ENV{CI} AND NOT "$ENV{CI}" STREQUAL "" AND NOT "$ENV{CI}" STREQUAL "false")
  message(STATUS "CI build: warnings are errors")
  target_compile_options(ardanto_config INTERFACE -Werror)
endif()

target_compile_definitions(ardanto_config INTERFACE
  QT_NO_CAST_FROM_ASCII
  QT_NO_CAST_TO_ASCII
  QT_NO_URL_CAST_FROM_STRING
  QT_USE_QSTRINGBUILDER
  QT_NO_FOREACH
  ARDANTO_VERSION="${PROJECT_VERSION}"
  $<$<CONFIG:Debug>:_GLIBCXX_ASSERTIONS>
  $<$<CONFIG:Debug>:QT_FORCE_ASSERTS>)

if(ARDANTO_SANITIZE)
  message(STATUS "Sanitizer build: address, undefined")
  set(_san -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_compile_options(ardanto_config INTERFACE ${_san})
  target_link_options(ardanto_config INTERFACE ${_san})
endif()

if(NOT CMAKE_BUILD_TYPE AND NOT CMAKE_CONFIGURATION_TYPES)
  set(CMAKE_BUILD_TYPE RelWithDebInfo CACHE STRING "Build type" FORCE)
endif()

# Gives a library or program its own gettext text domain: `_()` in its sources
# looks texts up there.
function(ardanto_text_domain target domain)
  target_compile_definitions(${target} PRIVATE ARDANTO_TEXT_DOMAIN="${domain}")
endfunction()
