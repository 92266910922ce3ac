# kx_layer_includes(target folder): the include root of one layer. Each layer sees its own
# headers as "<folder>/..." through a folder of its own holding one link to src/<folder>, and
# the headers of the layers it links; an include of a layer above it does not compile.
set(KX_LAYERS_SOURCE ${CMAKE_CURRENT_LIST_DIR}/../src)
function(kx_layer_includes target folder)
  set(root ${CMAKE_BINARY_DIR}/layers/${folder})
  if(NOT EXISTS ${root}/${folder})
    file(MAKE_DIRECTORY ${root})
    file(CREATE_LINK ${KX_LAYERS_SOURCE}/${folder} ${root}/${folder} SYMBOLIC)
  endif()
  target_include_directories(${target} PUBLIC ${root})
endfunction()
