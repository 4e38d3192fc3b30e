# The PNG graphs of the modules, decoded and checked pixel by pixel.
foreach(mod load netif memswap cpu)
  kelp_test(mod_${mod}_graf_test mod_${mod}_graf_test.cpp ${CMAKE_CURRENT_SOURCE_DIR}/../graph/png_probe.cpp)
endforeach()
