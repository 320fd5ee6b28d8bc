shadowFrom = 'package';
