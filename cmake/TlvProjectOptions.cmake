# Compile options of the project's own targets, linked PRIVATE by each of them.
#
#   tlv_warnings     warnings for every target (code, tests, benchmarks, tools)
#   tlv_strict_qt    Qt's strictness defines, for the shipped code (plugin, host SDK, host, tools)
#
# TLV_WERROR turns warnings into errors (the "ci" preset sets it).

option(TLV_WERROR "Treat compiler warnings as errors" OFF)

add_library(tlv_warnings INTERFACE)
if(MSVC)
    target_compile_options(tlv_warnings INTERFACE /W4 $<$<BOOL:${TLV_WERROR}>:/WX>)
else()
    target_compile_options(tlv_warnings INTERFACE
        -Wall -Wextra -Wshadow
        $<$<COMPILE_LANGUAGE:CXX>:-Wnon-virtual-dtor -Woverloaded-virtual -Wsuggest-override>
        $<$<BOOL:${TLV_WERROR}>:-Werror>)
endif()

add_library(tlv_strict_qt INTERFACE)
target_compile_definitions(tlv_strict_qt INTERFACE
    QT_NO_CAST_FROM_ASCII
    QT_USE_QSTRINGBUILDER
    QT_DISABLE_DEPRECATED_BEFORE=0x050F00)
