# Finds libusb-1.0: through pkg-config where that is installed, otherwise by
# its header and library alone, so that a machine without pkg-config builds
# the programs too. Defines the imported target LibUSB::LibUSB.
find_package(PkgConfig QUIET)
if(PKG_CONFIG_FOUND)
  pkg_check_modules(PC_LIBUSB QUIET libusb-1.0)
endif()
find_path(LibUSB_INCLUDE_DIR libusb.h HINTS ${PC_LIBUSB_INCLUDE_DIRS} PATH_SUFFIXES libusb-1.0)
find_library(LibUSB_LIBRARY NAMES usb-1.0 HINTS ${PC_LIBUSB_LIBRARY_DIRS})

include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(LibUSB
  REQUIRED_VARS LibUSB_LIBRARY LibUSB_INCLUDE_DIR
  REASON_FAILURE_MESSAGE "install the Debian package libusb-1.0-0-dev")

if(LibUSB_FOUND AND NOT TARGET LibUSB::LibUSB)
  add_library(LibUSB::LibUSB UNKNOWN IMPORTED)
  set_target_properties(LibUSB::LibUSB PROPERTIES
    IMPORTED_LOCATION "${LibUSB_LIBRARY}"
    INTERFACE_INCLUDE_DIRECTORIES "${LibUSB_INCLUDE_DIR}")
endif()
