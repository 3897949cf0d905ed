#!/usr/bin/env bash
echo 'the command-line updater is not built yet'; exit 1
