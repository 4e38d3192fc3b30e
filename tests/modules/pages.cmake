# The modules' HTML pages over scripted interfaces.
kelp_test(module_pages_test module_pages_test.cpp)
