# tests/consumer against the package installed into a prefix in the build tree, with pkg-config alone, and from
# the source tree through add_subdirectory; each build with this one's compiler and flags, so sanitizer builds link alike.
set(consumer_dir "${PROJECT_BINARY_DIR}/consumer-test")
set(consumer_options "-DCMAKE_CXX_COMPILER=${CMAKE_CXX_COMPILER}" "-DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}"
  "-DCMAKE_CXX_FLAGS=${CMAKE_CXX_FLAGS}" "-DCMAKE_C_FLAGS=${CMAKE_C_FLAGS}"
  "-DCMAKE_EXE_LINKER_FLAGS=${CMAKE_EXE_LINKER_FLAGS}" "-DCMAKE_SHARED_LINKER_FLAGS=${CMAKE_SHARED_LINKER_FLAGS}")
set(empty_run_path_entry "(runpath|rpath): \\[(:|[^]]*::|[^]]*:\\])|Error")  # the loader's name for the working folder

if(KTUTILS_INSTALL)
  set(prefix "${consumer_dir}/prefix")
  # A fresh prefix each run, so a header removed from the tree is missed.
  add_test(NAME ktutils-consumer.install-prefix
    COMMAND sh -c "rm -rf '${prefix}' && '${CMAKE_COMMAND}' --install '${PROJECT_BINARY_DIR}' --prefix '${prefix}'")
  set_tests_properties(ktutils-consumer.install-prefix PROPERTIES FIXTURES_SETUP ktutils-installed)

  add_test(NAME ktutils-consumer.find-package
    COMMAND "${CMAKE_CTEST_COMMAND}" --build-and-test "${CMAKE_CURRENT_SOURCE_DIR}/consumer" "${consumer_dir}/find-package"
      --build-generator "${CMAKE_GENERATOR}" --build-options ${consumer_options} "-DCMAKE_PREFIX_PATH=${prefix}"
      -DKTUTILS_CONSUMER_MODE=package
      --test-command ktutils-consumer)

  add_test(NAME ktutils-consumer.pkg-config COMMAND "${CMAKE_CURRENT_SOURCE_DIR}/consumer/pkg_config_build.sh"
    "${CMAKE_CXX_COMPILER}" "${prefix}" "${CMAKE_CURRENT_SOURCE_DIR}/consumer/main.cpp" "${consumer_dir}/pkg-config-consumer"
    "$<NOT:$<BOOL:${BUILD_SHARED_LIBS}>>" "${CMAKE_CXX_FLAGS} ${CMAKE_EXE_LINKER_FLAGS}")
  set_tests_properties(ktutils-consumer.find-package ktutils-consumer.pkg-config PROPERTIES FIXTURES_REQUIRED ktutils-installed)

  # The library and the tool of this build tree and of its installation: no run path has an empty entry.
  set(binaries $<TARGET_FILE:ktutils> $<TARGET_FILE:ktutils-protocol-tests> ${prefix}/${CMAKE_INSTALL_LIBDIR}/$<TARGET_FILE_NAME:ktutils>)
  if(TARGET ktutils-cli)
    list(APPEND binaries $<TARGET_FILE:ktutils-cli> "${prefix}/${CMAKE_INSTALL_BINDIR}/ktutils")
  endif()
  add_test(NAME ktutils-run-paths COMMAND "${CMAKE_READELF}" -d ${binaries})
  set_tests_properties(ktutils-run-paths PROPERTIES FIXTURES_REQUIRED ktutils-installed
    PASS_REGULAR_EXPRESSION "Dynamic section" FAIL_REGULAR_EXPRESSION "${empty_run_path_entry}")
endif()

# Built and installed as docs/packaging.md says, shared and with the parent's BUILD_SHARED_LIBS unset (static), the
# program runs in both trees from a folder holding a file of random bytes and a provider that trusts everything.
set(options_shared -DBUILD_SHARED_LIBS=ON)  # options_default: none
foreach(linkage shared default)
  set(subdir "${consumer_dir}/add-subdirectory-${linkage}")
  set(planted "${subdir}-planted")
  add_test(NAME ktutils-consumer.add-subdirectory-${linkage}
    COMMAND "${CMAKE_CTEST_COMMAND}" --build-and-test "${CMAKE_CURRENT_SOURCE_DIR}/consumer" "${subdir}"
      --build-generator "${CMAKE_GENERATOR}" --build-options ${consumer_options} -DKTUTILS_CONSUMER_MODE=subdirectory
        "-DKTUTILS_SOURCE_DIR=${PROJECT_SOURCE_DIR}" ${options_${linkage}}
    --test-command sh -c "rm -rf '${subdir}-prefix' '${planted}' && mkdir '${planted}' && head -c 4096 /dev/urandom \
>'${planted}/r.exe' && cp '$<TARGET_FILE:ktutils-test-trust-provider>' '${planted}/libwintrust.so' && \
'${CMAKE_COMMAND}' --install '${subdir}' --prefix '${subdir}-prefix' >/dev/null && cd '${planted}' && \
for bin in '${subdir}/bin' '${subdir}-prefix/bin'; do env -u LD_LIBRARY_PATH \
KTUTILS_TRUST_ROOTS='${signature_fixtures}/trusted-roots.pem' \"$bin/ktutils-consumer\" r.exe \
'${signature_fixtures}/pe32-signed.exe'; done && find '${subdir}' '${subdir}-prefix' -type f \\( -name \
ktutils-consumer -o -name 'lib*.so*' \\) -exec readelf -d {} +")
endforeach()

# Each builds a project of its own against ktutils: the plain CI build runs them, the sanitizer and zlib-only
# presets leave the label out. Each prints what it decoded and the package version it was built against, then
# (the parent projects' programs, in both trees) that r.exe is not trusted and a signed file is, with the status.
get_directory_property(consumer_tests TESTS)
list(FILTER consumer_tests INCLUDE REGEX "^ktutils-consumer\\.(find|pkg|add)")
set(decoded "KTMESSAGETYPE2_CHALLENGE challenge=0x12345678 from ktutils 0\\.0\\.0\\.3: KT_OK \\(package ${PROJECT_VERSION}\\)")
set(judged "${decoded}\nr\\.exe: NOT trusted \\(TRUST_E_SUBJECT_FORM_UNKNOWN\\)\n[^\n]*/pe32-signed\\.exe: trusted \\(ERROR_SUCCESS\\)\n")
set_tests_properties(${consumer_tests} PROPERTIES LABELS consumer PASS_REGULAR_EXPRESSION "${decoded}")
set_tests_properties(ktutils-consumer.add-subdirectory-shared ktutils-consumer.add-subdirectory-default PROPERTIES FIXTURES_REQUIRED
  signature-fixtures PASS_REGULAR_EXPRESSION "${judged}${judged}" FAIL_REGULAR_EXPRESSION "${empty_run_path_entry}")
