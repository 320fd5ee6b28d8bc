shadowFrom = 'disk';
