# Embeds binary files into a program as constant byte arrays.
#
#   qm_embed(<target> <symbol> <file>)
#
# adds to <target> a generated source that defines
#   extern const std::uint8_t <symbol>[];      // the file's bytes, 16-byte aligned
#   extern const std::size_t <symbol>_size;    // their count
# and a header declaring both, included as "embedded/<symbol>.h" (the build folder is put on the
# target's include path). The source is regenerated whenever the file changes.
#
# In script mode (cmake -P) this file writes one such source/header pair: -DEMBED_INPUT=<file>
# -DEMBED_SYMBOL=<symbol> -DEMBED_SOURCE=<.cpp> -DEMBED_HEADER=<.h>.

if(CMAKE_SCRIPT_MODE_FILE)
  file(READ "${EMBED_INPUT}" hex HEX)
  string(LENGTH "${hex}" digits)
  math(EXPR count "${digits} / 2")
  # Sixteen bytes per line keeps the generated file readable in a diff.
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){16})" "\\1\n    " bytes "${bytes}")
  if(count EQUAL 0)
    set(bytes "0")
    set(storage 1)
  else()
    set(storage ${count})
  endif()
  file(WRITE "${EMBED_HEADER}.tmp"
    "// Generated from ${EMBED_INPUT}; do not edit.\n#pragma once\n#include <cstddef>\n#include <cstdint>\n\n"
    "extern const std::uint8_t ${EMBED_SYMBOL}[];\nextern const std::size_t ${EMBED_SYMBOL}_size;\n")
  file(WRITE "${EMBED_SOURCE}.tmp"
    "// Generated from ${EMBED_INPUT}; do not edit.\n#include \"embedded/${EMBED_SYMBOL}.h\"\n\n"
    "alignas(16) extern const std::uint8_t ${EMBED_SYMBOL}[${storage}] = {\n    ${bytes}\n};\n"
    "extern const std::size_t ${EMBED_SYMBOL}_size = ${count};\n")
  # Rewrite only on change, so dependants are not rebuilt needlessly.
  execute_process(COMMAND ${CMAKE_COMMAND} -E copy_if_different "${EMBED_HEADER}.tmp" "${EMBED_HEADER}")
  execute_process(COMMAND ${CMAKE_COMMAND} -E copy_if_different "${EMBED_SOURCE}.tmp" "${EMBED_SOURCE}")
  file(REMOVE "${EMBED_HEADER}.tmp" "${EMBED_SOURCE}.tmp")
  return()
endif()

set(QM_EMBED_SCRIPT ${CMAKE_CURRENT_LIST_FILE})

function(qm_embed target symbol file)
  get_filename_component(input "${file}" ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
  set(source ${CMAKE_BINARY_DIR}/embedded/${symbol}.cpp)
  set(header ${CMAKE_BINARY_DIR}/embedded/${symbol}.h)
  add_custom_command(
    OUTPUT ${source} ${header}
    COMMAND ${CMAKE_COMMAND} -DEMBED_INPUT=${input} -DEMBED_SYMBOL=${symbol} -DEMBED_SOURCE=${source}
            -DEMBED_HEADER=${header} -P ${QM_EMBED_SCRIPT}
    DEPENDS ${input} ${QM_EMBED_SCRIPT}
    COMMENT "Embedding ${file} as ${symbol}"
    VERBATIM)
  target_sources(${target} PRIVATE ${source} ${header})
  target_include_directories(${target} PUBLIC ${CMAKE_BINARY_DIR})
endfunction()
