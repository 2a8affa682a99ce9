# SPDX-License-Identifier: MIT
include $(sort $(wildcard $(BR2_EXTERNAL_GLOW_PATH)/package/*/*.mk))
