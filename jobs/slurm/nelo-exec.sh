#!/bin/sh
exec "$@"
