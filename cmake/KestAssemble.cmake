# Assembles test programs for the emulated processors into flat binaries.
#
#   kest_assemble_programs(<target> ARCH sh2|m68k SOURCES a.s b.s ...)
#
# Each source may name its load address on a line "! base: 0x06004000" (SH-2)
# or "| base: 0x1000" (68000); the default is 0. The binaries land in
# ${CMAKE_BINARY_DIR}/programs/<arch>/<name>.bin and <target> builds them all.
find_program(KEST_SH_AS sh4-linux-gnu-as REQUIRED)
find_program(KEST_SH_LD sh4-linux-gnu-ld REQUIRED)
find_program(KEST_SH_OBJCOPY sh4-linux-gnu-objcopy REQUIRED)
find_program(KEST_M68K_AS m68k-linux-gnu-as REQUIRED)
find_program(KEST_M68K_LD m68k-linux-gnu-ld REQUIRED)
find_program(KEST_M68K_OBJCOPY m68k-linux-gnu-objcopy REQUIRED)

set(KEST_PROGRAMS_DIR ${CMAKE_BINARY_DIR}/programs)

function(kest_assemble_programs target)
    cmake_parse_arguments(P "" "ARCH" "SOURCES" ${ARGN})
    if(P_ARCH STREQUAL "sh2")
        set(as ${KEST_SH_AS} --isa=sh2 -big)
        set(ld ${KEST_SH_LD} -EB)
        set(objcopy ${KEST_SH_OBJCOPY})
        set(marker "!")
    elseif(P_ARCH STREQUAL "m68k")
        set(as ${KEST_M68K_AS} -m68000)
        set(ld ${KEST_M68K_LD})
        set(objcopy ${KEST_M68K_OBJCOPY})
        set(marker "|")
    else()
        message(FATAL_ERROR "kest_assemble_programs: unknown ARCH '${P_ARCH}'")
    endif()
    set(outdir ${KEST_PROGRAMS_DIR}/${P_ARCH})
    # Include files shared by the programs of this processor.
    file(GLOB includes CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/programs/${P_ARCH}/*.inc)
    file(MAKE_DIRECTORY ${outdir})
    set(outputs)
    foreach(src ${P_SOURCES})
        get_filename_component(abs ${src} ABSOLUTE)
        get_filename_component(name ${src} NAME_WE)
        set(base 0)
        file(STRINGS ${abs} base_line REGEX "^[${marker}] base: 0x[0-9A-Fa-f]+" LIMIT_COUNT 1)
        if(base_line)
            string(REGEX REPLACE ".*base: (0x[0-9A-Fa-f]+).*" "\\1" base "${base_line}")
        endif()
        set(obj ${outdir}/${name}.o)
        set(elf ${outdir}/${name}.elf)
        set(bin ${outdir}/${name}.bin)
        add_custom_command(
            OUTPUT ${bin}
            COMMAND ${as} -I ${CMAKE_SOURCE_DIR}/tests/programs/${P_ARCH} -o ${obj} ${abs}
            COMMAND ${ld} -Ttext=${base} -e ${base} -o ${elf} ${obj}
            COMMAND ${objcopy} -O binary ${elf} ${bin}
            DEPENDS ${abs} ${includes}
            COMMENT "Assembling ${P_ARCH} program ${name}"
            VERBATIM)
        list(APPEND outputs ${bin})
    endforeach()
    add_custom_target(${target} ALL DEPENDS ${outputs})
endfunction()
