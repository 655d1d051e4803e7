# linkopen carries the link library and the operating-system layer without
# any object of the driver: it is built in every preset to prove that the
# link library stands on its own.
qd_link_into(${TOOL})
