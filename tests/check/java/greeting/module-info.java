module app.greeting {
  exports app.greeting;
}
