# Hardened code for the plain build, the one the Debian package ships: the flags of
# dpkg-buildflags with hardening=+all (stack protector, fortified libc calls, PIE,
# full RELRO). The sanitizer, TSan and fuzz builds go without them: ASan does its own checks.
option(KESTRUN_HARDEN "Build with stack protector, fortified libc calls, PIE and full RELRO" ON)
if(KESTRUN_HARDEN AND NOT KESTRUN_SANITIZE AND NOT KESTRUN_TSAN)
  # CMAKE_POSITION_INDEPENDENT_CODE gives -fPIE; this also links executables with -pie.
  if(NOT WIN32)
    include(CheckPIESupported)
    check_pie_supported()
  endif()
  add_compile_options(-fstack-protector-strong)
  # Fortified calls need the optimiser; an unoptimised build would only warn.
  add_compile_options("$<$<NOT:$<CONFIG:Debug>>:-U_FORTIFY_SOURCE>" "$<$<NOT:$<CONFIG:Debug>>:-D_FORTIFY_SOURCE=2>")
  if(WIN32)
    # MinGW's stack protector and fortified calls live in libssp, which the driver links when told so.
    add_link_options(-fstack-protector-strong)
  else()
    add_link_options(-Wl,-z,relro,-z,now)
  endif()
endif()
