# Helpers that turn the folder layout into targets, so adding a module or a
# test never needs a CMake edit.

set(METEROPS_PACKAGES "")

function(meterops_package name)
  cmake_parse_arguments(P "" "" "DEPS;PROTO" ${ARGN})
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/${name}/*.cpp)
  set(protos "")
  foreach(proto ${P_PROTO})
    if(EXISTS ${PROJECT_SOURCE_DIR}/${proto})
      list(APPEND protos ${proto})
    endif()
  endforeach()
  set(P_PROTO ${protos})
  if(NOT srcs AND NOT P_PROTO)
    return()
  endif()
  set(target meterops_${name})
  add_library(${target} STATIC ${srcs})
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  set(deps "")
  foreach(d ${P_DEPS})
    if(TARGET ${d} OR NOT d MATCHES "^meterops_")
      list(APPEND deps ${d})
    endif()
  endforeach()
  target_link_libraries(${target} PUBLIC ${deps})
  if(P_PROTO)
    set(gen ${CMAKE_BINARY_DIR}/gen)
    file(MAKE_DIRECTORY ${gen}/mediator/proto)
    get_target_property(grpc_cpp_plugin gRPC::grpc_cpp_plugin LOCATION)
    foreach(proto ${P_PROTO})
      get_filename_component(stem ${proto} NAME_WE)
      set(out ${gen}/mediator/proto/${stem}.pb.cc ${gen}/mediator/proto/${stem}.pb.h
              ${gen}/mediator/proto/${stem}.grpc.pb.cc ${gen}/mediator/proto/${stem}.grpc.pb.h)
      add_custom_command(
        OUTPUT ${out}
        COMMAND protobuf::protoc
          --proto_path=${PROJECT_SOURCE_DIR}/src
          --cpp_out=${gen} --grpc_out=${gen}
          --plugin=protoc-gen-grpc=${grpc_cpp_plugin}
          ${PROJECT_SOURCE_DIR}/${proto}
        DEPENDS ${PROJECT_SOURCE_DIR}/${proto}
        COMMENT "protoc ${proto}")
      target_sources(${target} PRIVATE ${out})
    endforeach()
    target_include_directories(${target} PUBLIC ${gen})
  endif()
  set(METEROPS_PACKAGES ${METEROPS_PACKAGES} ${target} PARENT_SCOPE)
endfunction()

# A program links only the packages it needs (so one package being worked on
# never blocks the others' programs); unknown programs link them all.
set(METEROPS_PROGRAM_DEPS
  "fleet_sync=meterops_jobs"
  "token_dispatch_batch=meterops_jobs"
  "clock_drift_repair=meterops_jobs"
  "credit_mode_sweep=meterops_jobs"
  "wallet_floor_job=meterops_jobs"
  "polyphase_export=meterops_jobs,meterops_profile_logs"
  "replica_gap_report=meterops_cli"
  "replica_diff=meterops_cli"
  "mediator_ctl=meterops_orchestrate"
  "mediator_sim=meterops_mediator")

function(meterops_link_program name)
  set(deps ${METEROPS_PACKAGES})
  foreach(entry ${METEROPS_PROGRAM_DEPS})
    if(entry MATCHES "^${name}=(.*)$")
      string(REPLACE "," ";" deps "${CMAKE_MATCH_1}")
    endif()
  endforeach()
  set(linked "")
  foreach(d ${deps})
    if(TARGET ${d})
      list(APPEND linked ${d})
    endif()
  endforeach()
  target_link_libraries(${name} PRIVATE ${linked} meterops_util)
endfunction()

function(meterops_programs)
  file(GLOB apps CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/apps/*.cpp)
  foreach(app ${apps})
    get_filename_component(name ${app} NAME_WE)
    add_executable(${name} ${app})
    meterops_link_program(${name})
  endforeach()
  file(GLOB tools LIST_DIRECTORIES true CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tools/*)
  foreach(dir ${tools})
    if(IS_DIRECTORY ${dir})
      get_filename_component(name ${dir} NAME)
      file(GLOB_RECURSE srcs CONFIGURE_DEPENDS ${dir}/*.cpp)
      if(srcs)
        add_executable(${name} ${srcs})
        meterops_link_program(${name})
      endif()
    endif()
  endforeach()
endfunction()

# tests/support/*.cpp is a helper library; every other tests/**/*_test.cpp is
# its own executable, so one module's broken test never blocks another's.
function(meterops_tests)
  include(GoogleTest)
  file(GLOB_RECURSE support CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/support/*.cpp)
  add_library(meterops_testsupport STATIC ${support})
  target_include_directories(meterops_testsupport PUBLIC ${PROJECT_SOURCE_DIR}/tests ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(meterops_testsupport PUBLIC meterops_util GTest::gtest GTest::gmock PkgConfig::HTTPLIB)
  target_include_directories(meterops_testsupport PUBLIC ${PROJECT_SOURCE_DIR}/tests)
  target_compile_definitions(meterops_testsupport PUBLIC
    METEROPS_BIN_DIR="${CMAKE_BINARY_DIR}/bin"
    METEROPS_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  file(GLOB_RECURSE tests CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/*_test.cpp)
  foreach(t ${tests})
    file(RELATIVE_PATH rel ${PROJECT_SOURCE_DIR}/tests ${t})
    string(REGEX REPLACE "\\.cpp$" "" rel ${rel})
    string(REPLACE "/" "_" name ${rel})
    set(name test_${name})
    add_executable(${name} ${t})
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
    # tests/<package>/... links that package; tests/integration/... only
    # runs programs, so it needs util alone.
    string(REGEX MATCH "^[^/]+" pkg ${rel})
    set(pkg_lib "")
    if(TARGET meterops_${pkg})
      set(pkg_lib meterops_${pkg})
    elseif(NOT pkg STREQUAL "integration")
      set(pkg_lib ${METEROPS_PACKAGES})
    endif()
    target_link_libraries(${name} PRIVATE ${pkg_lib} meterops_testsupport GTest::gtest_main)
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
      PROPERTIES TIMEOUT 300)
  endforeach()
endfunction()

function(meterops_benchmarks)
  file(GLOB benches CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/bench/*_bench.cpp)
  foreach(b ${benches})
    get_filename_component(name ${b} NAME_WE)
    add_executable(${name} ${b})
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
    target_link_libraries(${name} PRIVATE ${METEROPS_PACKAGES} meterops_testsupport benchmark::benchmark)
  endforeach()
endfunction()
