// An exception that leaves the application reaches the start-up script.

throw new Error('boom');
