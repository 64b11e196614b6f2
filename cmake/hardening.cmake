# The program reads names it did not make: optimised ELF builds get the
# hardening distributions ship with, each flag only where the compiler and
# linker accept it.
option(STAMPNAME_HARDEN "Harden optimised builds (stack protector, fortified functions, PIE, full RELRO)" ON)

if(STAMPNAME_HARDEN AND NOT WIN32 AND NOT APPLE AND NOT MSVC)
  include(CheckCXXCompilerFlag)
  include(CheckLinkerFlag)
  include(CheckPIESupported)

  set(optimised "$<NOT:$<CONFIG:Debug>>")
  foreach(flag -fstack-protector-strong -fstack-clash-protection
               -fcf-protection)
    string(MAKE_C_IDENTIFIER "STAMPNAME_HAS${flag}" known)
    check_cxx_compiler_flag(${flag} ${known})
    if(${known})
      add_compile_options(${flag})
    endif()
  endforeach()
  # Fortified functions need the optimiser; undefine any level given before.
  add_compile_options("$<${optimised}:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2>")

  check_pie_supported(LANGUAGES CXX)
  if(CMAKE_CXX_LINK_PIE_SUPPORTED)
    set(CMAKE_POSITION_INDEPENDENT_CODE ON)
  endif()
  check_linker_flag(CXX "LINKER:-z,relro,-z,now" STAMPNAME_HAS_BINDNOW)
  if(STAMPNAME_HAS_BINDNOW)
    add_link_options("LINKER:-z,relro,-z,now")
  endif()
endif()
